/* The reference relay: the least a relay must do, recvfrom on 127.0.0.1:LISTEN_PORT and
 * sendto 127.0.0.1:SINK_PORT of every datagram, on blocking sockets with default buffers.
 * It ends by itself after LIMIT seconds.
 *
 * Usage: relay LISTEN_PORT SINK_PORT LIMIT */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
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
    if (argc != 4) {
        fprintf(stderr, "usage: relay LISTEN_PORT SINK_PORT LIMIT\n");
        return 2;
    }
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
        (void)sendto(out, buffer, (size_t)got, 0, (const struct sockaddr*)&sink, sizeof sink);
    }
}
