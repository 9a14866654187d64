/* Offers a relay a steady load: COUNT magic packets to 127.0.0.1:PORT at RATE per second,
 * for the MAC addresses of NHOSTS generated hosts in turn (02:00:00 followed by the host
 * numbers FIRST to FIRST + NHOSTS - 1). Packets leave in small bursts, one every 100 us or
 * so, since sleeping shorter is not kept to on a shared machine. Prints the packets sent and
 * the nanoseconds it took.
 *
 * Usage: loadgen PORT RATE COUNT NHOSTS FIRST */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>

static long long now_ns(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000 + now.tv_nsec;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: loadgen PORT RATE COUNT NHOSTS FIRST\n");
        return 2;
    }
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)atoi(argv[1]));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const double rate = atof(argv[2]);
    const long count = atol(argv[3]);
    const long hosts = atol(argv[4]);
    const long first = atol(argv[5]);
    if (rate <= 0 || count <= 0 || hosts <= 0 || count > 10000000 || rate > 10000000) return 2;
    long burst = (long)(rate * 100e-6 + 0.5);
    if (burst < 1) burst = 1;
    const double burst_ns = 1e9 * (double)burst / rate;

    (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) return 1;
    unsigned char packet[102];
    memset(packet, 0xFF, 6);
    const long long start = now_ns();
    long sent = 0;
    for (long round = 0; sent < count; ++round) {
        const long long due = start + (long long)(burst_ns * (double)round);
        const struct timespec when = {.tv_sec = due / 1000000000, .tv_nsec = due % 1000000000};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, NULL) == EINTR)
            continue;
        for (long i = 0; i < burst && sent < count; ++i, ++sent) {
            const unsigned long host = (unsigned long)(first + sent % hosts);
            unsigned char mac[6] = {2, 0, 0};
            mac[3] = (unsigned char)(host >> 16);
            mac[4] = (unsigned char)(host >> 8);
            mac[5] = (unsigned char)host;
            for (int copy = 0; copy < 16; ++copy)
                memcpy(packet + 6 + 6 * copy, mac, 6);
            (void)sendto(fd, packet, sizeof packet, 0, (const struct sockaddr*)&to, sizeof to);
        }
    }
    printf("%ld %lld\n", sent, now_ns() - start);
    return 0;
}
