// The worker of one running command: moves the output from the pseudo-terminal into the
// command's block, notices the end of the process, marks a failure, tells the desktop when
// the window is not focused and wakes the main loop. It acts only on the process id and
// descriptor it was started with: the terminal may run another command by then.

#include "terminal/terminal.h"
#include "foundation/notifications.h"
#include "ui/window.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

u8 terminal_read_from_pipe(Terminal_Result* block, s32 pty, b8 mark_failed, b8 process_ended) {
    pollfd ready = {pty, POLLIN, 0};
    int count = poll(&ready, 1, process_ended ? 0 : TERMINAL_POLL_MILLISECONDS);
    if (count < 0) return errno == EINTR ? 1 : 0;
    if (count == 0) return process_ended ? 0 : 1;

    // Read outside the lock, so the view never waits for a system call.
    u8* buffer = tmp_allocate(TERMINAL_READ_SIZE);
    if (!buffer) return 0;
    ssize_t got = read(pty, buffer, TERMINAL_READ_SIZE);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return 1;
    // Once nothing holds the other side open the read fails (or ends): all output is in.
    if (got <= 0) return 0;

    spin_lock(&block->lock);
    if (block->text.count >= MAX_TERMINAL_BUFFER_SIZE - TERMINAL_READ_SIZE) reset_terminal_result_text(block);
    u8* at = (u8*)dynamic_array_add_fast_multiple(&block->text, (u32)got);
    if (at) memcpy(at, buffer, (u64)got);
    if (mark_failed) atomic_or_u8(&block->flags, TERMINAL_RESULT_FAILED);
    tokenise_terminal_result(block);
    atomic_or_u8(&block->flags, TERMINAL_RESULT_UPDATED);
    spin_unlock(&block->lock);
    wake_main_loop();
    return 2;
}

struct Process_End {
    b8 seen;
    b8 failed;  // exited with a status other than 0, or ended by a signal
};

// Looks at the process's end without reaping it: its session is still to be signalled,
// and until the leader is reaped its id cannot name another process.
static void look_for_end(s32 process_id, Process_End* end, b8 block_until_it_ends) {
    for (;;) {
        siginfo_t info;
        memset(&info, 0, sizeof(info));
        int options = WEXITED | WNOWAIT | (block_until_it_ends ? 0 : WNOHANG);
        if (waitid(P_PID, (id_t)process_id, &info, options) < 0) {
            if (errno == EINTR) continue;
            end->seen = true;  // nothing left to wait for; no status to judge by
            return;
        }
        if (info.si_pid != process_id) return;
        end->seen = true;
        end->failed = info.si_code != CLD_EXITED || info.si_status != 0;
        return;
    }
}

void* terminal_worker(void* parameters) {
    tmp_claim_slot();
    Terminal_Worker_Parameters* given = (Terminal_Worker_Parameters*)parameters;
    Terminal* terminal = given->terminal;
    Terminal_Result* block = given->block;
    s32 process_id = given->process_id;
    s32 pty = given->pty;
    atomic_or_u8(&terminal->flags, TERMINAL_WORKER_STARTED);
    atomic_store_u8(&given->started, 1);  // the starter may return from here: given is gone

    Process_End end = {};
    b8 ended = false;
    u64 end_time = 0;
    while (atomic_load_u8(&block->flags) & TERMINAL_RESULT_RUNNING) {
        tmp_reset();
        u64 now = os_get_monotonic_microseconds();
        u8 read = terminal_read_from_pipe(block, pty, false, ended);
        if (!end.seen) {
            look_for_end(process_id, &end, false);
            if (end.seen) end_time = now;
        } else if (now - end_time > TERMINAL_EXIT_GRACE_MICROSECONDS) {
            // Output still on its way when the process ended has been read by now.
            ended = true;
        }
        if (read == 0) break;
    }

    // The descriptor is ours: once it is closed, a later one of the same number must not
    // be taken for it.
    spin_lock(&block->lock);
    block->pty = -1;
    spin_unlock(&block->lock);
    close(pty);
    // Judged before the block stops reading: a frame in between would show it done.
    if (!end.seen) look_for_end(process_id, &end, true);
    if (end.failed) atomic_or_u8(&block->flags, TERMINAL_RESULT_FAILED);
    atomic_and_u8(&block->flags, (u8)~TERMINAL_RESULT_READING);
    // What the command left running goes with it, before the leader is reaped.
    end_terminal_process_if_held(terminal, process_id);
    atomic_and_u8(&block->flags, (u8)~TERMINAL_RESULT_RUNNING);
    while (waitpid(process_id, 0, 0) < 0 && errno == EINTR) {
    }

    if (!atomic_load_u8(&window_is_focused)) {
        create_os_notification(end.failed ? STR("Failure") : STR("Success"), block->command);
    }
    atomic_and_u8(&block->flags, (u8)~TERMINAL_RESULT_WORKER);  // the block may be freed from here
    wake_main_loop();
    tmp_release_slot();
    return 0;
}
