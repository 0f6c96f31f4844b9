// The host tool's helper thread on POSIX: one slot, guarded by a mutex, that the
// caller fills and the helper empties.  The slot's `work` is null while it is free.
// A thread that cannot be started is tried once; the caller then does the work.
// Both sides sleep while they wait (bench/README.md tells why they do not spin).
#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include "platform/host_services.h"

static pthread_mutex_t slot_lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t slot_changed = PTHREAD_COND_INITIALIZER;
static void (*slot_work)(void* item);
static void* slot_item;
static bool helper_tried, helper_running;

static void* run_helper(void*) {
    pthread_mutex_lock(&slot_lock);
    for (;;) {
        while (slot_work == nullptr) pthread_cond_wait(&slot_changed, &slot_lock);
        void (*work)(void*) = slot_work;
        void* item = slot_item;
        pthread_mutex_unlock(&slot_lock);
        work(item);
        pthread_mutex_lock(&slot_lock);
        slot_work = nullptr;
        pthread_cond_broadcast(&slot_changed);
    }
}

/* No helper where the process may run on one processor only: there it would take
 * turns with the caller and add the hand-offs to the work.  The helper blocks every
 * signal, so that they keep going to the main thread, where the tool handles them. */
static bool start_helper() {
    cpu_set_t usable;
    if (sched_getaffinity(0, sizeof usable, &usable) == 0 && CPU_COUNT(&usable) < 2) return false;
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    pthread_t thread;
    bool started = pthread_create(&thread, nullptr, run_helper, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (started) pthread_detach(thread);
    return started;
}

bool platform_hand_to_helper(void (*work)(void* item), void* item) {
    pthread_mutex_lock(&slot_lock);
    if (!helper_tried) {
        helper_running = start_helper();
        helper_tried = true;
    }
    bool handed = helper_running;
    if (handed) {
        while (slot_work != nullptr) pthread_cond_wait(&slot_changed, &slot_lock);
        slot_work = work;
        slot_item = item;
        pthread_cond_broadcast(&slot_changed);
    }
    pthread_mutex_unlock(&slot_lock);
    return handed;
}

void platform_wait_for_helper() {
    if (!helper_running) return;
    pthread_mutex_lock(&slot_lock);
    while (slot_work != nullptr) pthread_cond_wait(&slot_changed, &slot_lock);
    pthread_mutex_unlock(&slot_lock);
}
