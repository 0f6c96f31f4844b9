// The list of files being written, and the signal handler that removes them.  The
// handler runs at any moment between two instructions of the tool, so the list is a
// few fixed slots of names whose state is an atomic word: a slot is filled while
// it is claimed, and only a slot marked live is read.  The handler calls unlink,
// signal, sigprocmask and raise only, all safe inside a signal handler.
#include <atomic>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include "platform/host_services.h"
#include "platform/posix/live_files.h"

namespace {

enum { SLOTS = 4 };                 // an extracted member, a packed archive: two at most
enum { FREE, CLAIMED, LIVE };

struct LiveFile {
    std::atomic<int> state;
    int folder;
    char name[PATH_MAX];
};
LiveFile live_files[SLOTS];
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slots' state");

const int CLEANED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

void remove_live_files(int signal_number) {
    for (LiveFile& f : live_files)
        if (f.state.load() == LIVE) unlinkat(f.folder, f.name, 0);
    // Then the signal's own end: the process dies of it, and its parent sees so.
    signal(signal_number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
}

}  // namespace

void note_live_file(const char* name, int folder) {
    size_t length = strlen(name);
    if (length >= PATH_MAX) return;
    for (LiveFile& f : live_files) {
        int expected = FREE;
        if (!f.state.compare_exchange_strong(expected, CLAIMED)) continue;
        memcpy(f.name, name, length + 1);
        f.folder = folder;
        f.state.store(LIVE);
        return;
    }
}

void forget_live_file(const char* name, int folder) {
    for (LiveFile& f : live_files) {
        if (f.state.load() != LIVE || f.folder != folder || strcmp(f.name, name) != 0) continue;
        f.state.store(FREE);
        return;
    }
}

void hold_signals(sigset_t* before) {
    sigset_t cleaned;
    sigemptyset(&cleaned);
    for (int s : CLEANED_SIGNALS) sigaddset(&cleaned, s);
    pthread_sigmask(SIG_BLOCK, &cleaned, before);
}

void release_signals(const sigset_t* before) { pthread_sigmask(SIG_SETMASK, before, nullptr); }

/* A signal that the tool was started with ignored (nohup, a background job's
 * SIGINT) stays ignored. */
void platform_clean_up_on_signals() {
    for (int s : CLEANED_SIGNALS) {
        struct sigaction now;
        if (sigaction(s, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
        struct sigaction handler = {};
        handler.sa_handler = remove_live_files;
        sigfillset(&handler.sa_mask);
        sigaction(s, &handler, nullptr);
    }
}
