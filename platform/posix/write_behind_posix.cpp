// Writing behind on POSIX: the bytes of a new file go to a second thread, which
// makes the system calls while the caller's thread goes on producing the next ones.
// Only for the host tool, which turns it on; everything else writes as usual.
//
// The FILE the engine sees is a stdio stream over a cookie (glibc's fopencookie):
// stdio buffers as always, and each block it hands on is copied into one of a few
// fixed slots that the writer thread empties in order.  The slots are taken from the
// heap once, the first time a file grows past the first block, and reused for every
// later file, so their pages are touched once per process.  A file's first
// WRITE_BEHIND_FROM bytes are written directly: a small file never waits for a thread.
#include <errno.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <new>

#include "platform/platform.h"
#include "platform/posix/write_behind_posix.h"

namespace {

enum : uint32_t {
    SLOT_COUNT = 4,
    SLOT_SIZE = 128 * 1024,
    WRITE_BEHIND_FROM = 128 * 1024,
};

// One open file.  `error` is the errno of the first write that failed, 0 while
// every write went through; it is set by whichever thread made that write.
struct BehindFile {
    int fd;
    std::atomic<int> error;
    uint64_t handed_on;  // bytes given to the cookie so far
};

struct Slot {
    BehindFile* file;
    uint32_t length;
    uint8_t* bytes;
};

// The queue: slots [head, tail) wait for the writer, counted modulo SLOT_COUNT.
// The slot at tail belongs to the producer until tail moves past it; the slot at
// head belongs to the writer until head moves past it.
struct WriteQueue {
    pthread_mutex_t lock;
    pthread_cond_t work;   // signalled when tail moves
    pthread_cond_t space;  // signalled when head moves
    uint32_t head, tail;
    Slot slots[SLOT_COUNT];
    bool started;          // the writer runs and the slots are allocated
    bool unavailable;      // they could not be had: every write is direct
};

WriteQueue queue = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER,
                    PTHREAD_COND_INITIALIZER, 0, 0, {}, false, false};
bool write_behind_on;

// Writes all of [bytes, bytes + length) to the file, again after a short write or an
// interruption.  A failure is kept in the file's error and stops its later writes.
void write_all(BehindFile* file, const uint8_t* bytes, size_t length) {
    while (length > 0 && file->error == 0) {
        ssize_t n = write(file->fd, bytes, length);
        if (n < 0) {
            if (errno != EINTR) file->error = errno;
            continue;
        }
        bytes += n;
        length -= (size_t)n;
    }
}

void* writer_main(void*) {
    pthread_mutex_lock(&queue.lock);
    for (;;) {
        while (queue.head == queue.tail) pthread_cond_wait(&queue.work, &queue.lock);
        Slot* slot = &queue.slots[queue.head % SLOT_COUNT];
        pthread_mutex_unlock(&queue.lock);
        write_all(slot->file, slot->bytes, slot->length);
        pthread_mutex_lock(&queue.lock);
        queue.head++;
        pthread_cond_broadcast(&queue.space);
    }
    return nullptr;
}

// Starts the writer and takes its slots, once.  False when either cannot be had.
bool start_writer() {
    if (queue.started) return true;
    if (queue.unavailable) return false;
    uint8_t* block = (uint8_t*)malloc((size_t)SLOT_COUNT * SLOT_SIZE);
    pthread_t thread;
    if (block == nullptr || pthread_create(&thread, nullptr, writer_main, nullptr) != 0) {
        free(block);
        queue.unavailable = true;
        return false;
    }
    pthread_detach(thread);
    for (uint32_t i = 0; i < SLOT_COUNT; i++) queue.slots[i].bytes = block + (size_t)i * SLOT_SIZE;
    queue.started = true;
    return true;
}

// Waits until the writer has made every write queued so far.  Only the producer
// queues, so nothing new arrives meanwhile.
void drain() {
    if (!queue.started) return;
    pthread_mutex_lock(&queue.lock);
    while (queue.head != queue.tail) pthread_cond_wait(&queue.space, &queue.lock);
    pthread_mutex_unlock(&queue.lock);
}

/* The cookie's write: stdio's buffer (or a large fwrite passed straight through),
 * copied into slots and queued.  The bytes count as written once queued: a failure
 * of the writer shows at the next write and at the close, both of which report it
 * (stdio turns a short count into the stream's error). */
ssize_t behind_write(void* cookie, const char* bytes, size_t length) {
    BehindFile* file = (BehindFile*)cookie;
    if (file->error != 0) {
        errno = file->error;
        return -1;
    }
    const uint8_t* from = (const uint8_t*)bytes;
    bool direct = file->handed_on < WRITE_BEHIND_FROM || !start_writer();
    file->handed_on += length;
    if (direct) {
        drain();
        write_all(file, from, length);
    }
    for (size_t left = direct ? 0 : length; left > 0;) {
        pthread_mutex_lock(&queue.lock);
        while (queue.tail - queue.head == SLOT_COUNT)
            pthread_cond_wait(&queue.space, &queue.lock);
        pthread_mutex_unlock(&queue.lock);
        Slot* slot = &queue.slots[queue.tail % SLOT_COUNT];
        uint32_t n = left < SLOT_SIZE ? (uint32_t)left : (uint32_t)SLOT_SIZE;
        memcpy(slot->bytes, from, n);
        slot->file = file;
        slot->length = n;
        pthread_mutex_lock(&queue.lock);
        queue.tail++;
        pthread_cond_signal(&queue.work);
        pthread_mutex_unlock(&queue.lock);
        from += n;
        left -= n;
    }
    if (file->error != 0) {
        errno = file->error;
        return -1;
    }
    return (ssize_t)length;
}

// Seeking (the engine starts a member over from its first byte) waits for the
// queued writes, which belong before the new position.
int behind_seek(void* cookie, off64_t* offset, int whence) {
    BehindFile* file = (BehindFile*)cookie;
    drain();
    off64_t at = lseek64(file->fd, *offset, whence);
    if (at < 0) return -1;
    *offset = at;
    return 0;
}

int behind_close(void* cookie) {
    BehindFile* file = (BehindFile*)cookie;
    drain();
    int error = file->error;
    if (close(file->fd) != 0 && error == 0) error = errno;
    file->~BehindFile();
    free(file);
    if (error == 0) return 0;
    errno = error;
    return -1;
}

}  // namespace

void platform_set_write_behind(bool on) { write_behind_on = on; }

FILE* open_written_file(int fd) {
    if (!write_behind_on) return fdopen(fd, "wb");
    BehindFile* file = (BehindFile*)malloc(sizeof(BehindFile));
    if (file == nullptr) return nullptr;
    new (file) BehindFile{fd, {0}, 0};
    cookie_io_functions_t functions = {nullptr, behind_write, behind_seek, behind_close};
    FILE* stream = fopencookie(file, "wb", functions);
    if (stream == nullptr) free(file);
    return stream;
}
