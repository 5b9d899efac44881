// hql3318-sim: plays the HQL3318 demo board's firmware on a pseudo-terminal.

#include "options.h"
#include "pseudoterminal.h"
#include "simulator.h"
#include "transcript.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

int g_stopWrite = -1;

// Only async-signal-safe work here: wake the event loop.
void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_stopWrite, &byte, 1);
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    std::string error;
    if (!options.parse(argc, argv, error)) {
        std::fprintf(stderr, "hql3318-sim: %s\n\n%s", error.c_str(), Options::usage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(Options::usage().c_str(), stdout);
        return 0;
    }

    int stopPipe[2];
    if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("hql3318-sim: pipe");
        return 1;
    }
    g_stopWrite = stopPipe[1];
    struct sigaction sa = {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // A reader of our stdout that went away must not kill the board.
    std::signal(SIGPIPE, SIG_IGN);
    // A modelled line keeps time to the tenth of a millisecond: the kernel
    // may not stretch its waits by its default slack (50 us each).
    if (options.baud > 0 || options.latencyMs > 0)
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    Transcript transcript;
    if (!options.transcript.empty() && !transcript.open(options.transcript, error)) {
        std::fprintf(stderr, "hql3318-sim: %s\n", error.c_str());
        return 1;
    }
    PseudoTerminal terminal;
    if (!terminal.open(error) || (!options.link.empty() && !terminal.makeLink(options.link, error))) {
        std::fprintf(stderr, "hql3318-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", terminal.slavePath().c_str());
    std::fflush(stdout);

    Simulator simulator(options, terminal, transcript, stopPipe[0]);
    const int status = simulator.run();
    terminal.close();
    return status;
}
