/* The reference relay: the least a relay must do, recvfrom on 127.0.0.1:LISTEN_PORT and
 * sendto 127.0.0.1:SINK_PORT of every datagram, on blocking sockets with default buffers.
 * With -l it also does what the daemon does for each relay besides: a line naming the MAC
 * address of the datagram on standard output, flushed, and one line to the system log.
 * It ends by itself after LIMIT seconds.
 *
 * Usage: relay [-l] LISTEN_PORT SINK_PORT LIMIT */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

static struct sockaddr_in loopback(const char* port) {
    struct sockaddr_in at;
    memset(&at, 0, sizeof at);
    at.sin_family = AF_INET;
    at.sin_port = htons((unsigned short)atoi(port));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return at;
}

int main(int argc, char** argv) {
    const int logged = argc > 1 && strcmp(argv[1], "-l") == 0;
    argc -= logged;
    argv += logged;
    if (argc != 4) {
        fprintf(stderr, "usage: relay [-l] LISTEN_PORT SINK_PORT LIMIT\n");
        return 2;
    }
    if (logged) openlog("relay", LOG_PID, LOG_DAEMON);
    const struct sockaddr_in listen_at = loopback(argv[1]);
    const struct sockaddr_in sink = loopback(argv[2]);
    alarm((unsigned)atoi(argv[3]));

    const int in = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    const int out = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (in < 0 || out < 0) return 1;
    if (bind(in, (const struct sockaddr*)&listen_at, sizeof listen_at) < 0) {
        perror("relay: bind");
        return 1;
    }
    unsigned char buffer[2048];
    for (;;) {
        struct sockaddr_storage from;
        socklen_t from_length = sizeof from;
        const ssize_t got =
            recvfrom(in, buffer, sizeof buffer, 0, (struct sockaddr*)&from, &from_length);
        if (got < 0) continue;
        if (logged && got >= 12) {
            char mac[18];
            snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", buffer[6], buffer[7],
                     buffer[8], buffer[9], buffer[10], buffer[11]);
            printf("Got WoL for host: %s (%s)\n", mac, mac);
            fflush(stdout);
            syslog(LOG_INFO, "Got WoL for host: %s (%s)", mac, mac);
        }
        (void)sendto(out, buffer, (size_t)got, 0, (const struct sockaddr*)&sink, sizeof sink);
    }
}
