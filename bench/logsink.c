/* A stand-in for the system logger: binds a datagram socket at the path given and
 * discards what arrives, as syslogd would take it, so that the daemon's log line for each
 * relay costs what it costs on a real system. Ends by itself after the seconds given. */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: logsink PATH SECONDS\n");
        return 2;
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", argv[1]);
    unlink(argv[1]);
    if (fd < 0 || bind(fd, (struct sockaddr*)&address, sizeof address) < 0) {
        perror("logsink");
        return 1;
    }
    int big = 4 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    alarm((unsigned)atoi(argv[2]));
    char buffer[4096];
    for (;;) (void)recv(fd, buffer, sizeof buffer, 0);
}
