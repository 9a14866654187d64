#include "daemon/detach.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

void daemon_detach() {
    // Whatever is buffered is written now, once, rather than by both processes.
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        // "%m", spelt out: the system's text for errno.
        syslog(LOG_ERR, "fork() failed: %s", std::strerror(errno));
        std::exit(1);
    }
    if (child > 0) std::exit(0);

    std::signal(SIGTTOU, SIG_IGN);
    std::signal(SIGTTIN, SIG_IGN);
    if (chdir("/") < 0) std::exit(1);
    umask(0);
    const int null_device = open("/dev/null", O_RDWR);
    if (null_device < 0) std::exit(1);
    for (int stream = 0; stream <= 2; ++stream)
        (void)close(stream);
    for (int stream = 0; stream <= 2; ++stream)
        (void)dup2(null_device, stream);
}
