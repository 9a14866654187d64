/* A loopback sink that counts the magic packets it receives.
 * Binds 127.0.0.1:PORT with a receive buffer large enough that it never drops what it is
 * sent, writes READY_FILE once bound, then receives until COUNT datagrams came, until
 * IDLE_MS passed without one after the first, or until LIMIT_MS passed in all. Prints one
 * line: valid magic packets, other datagrams, distinct MAC addresses among the valid ones,
 * and the span from the first datagram's arrival to the last one's in nanoseconds.
 *
 * It drains its socket in batches, a millisecond apart, instead of waking for every
 * datagram, so that it takes little from the programs being measured on a machine of few
 * cores; the kernel's arrival time stamps keep the span exact all the same.
 *
 * Usage: sink PORT COUNT IDLE_MS LIMIT_MS READY_FILE */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { kBatch = 256, kSize = 2048 };

static long long now_ns(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000 + now.tv_nsec;
}

static int is_magic(const unsigned char* data, size_t length) {
    if (length != 102) return 0;
    for (int i = 0; i < 6; ++i)
        if (data[i] != 0xFF) return 0;
    for (int copy = 1; copy < 16; ++copy)
        if (memcmp(data + 6, data + 6 + 6 * copy, 6) != 0) return 0;
    return 1;
}

/* The kernel's arrival time of a received message, in nanoseconds. */
static long long arrival_ns(struct msghdr* message) {
    for (struct cmsghdr* c = CMSG_FIRSTHDR(message); c != NULL; c = CMSG_NXTHDR(message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            struct timespec at;
            memcpy(&at, CMSG_DATA(c), sizeof at);
            return (long long)at.tv_sec * 1000000000 + at.tv_nsec;
        }
    }
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: sink PORT COUNT IDLE_MS LIMIT_MS READY_FILE\n");
        return 2;
    }
    const long count = atol(argv[2]);
    const long long idle_ns = atoll(argv[3]) * 1000000LL;
    const long long deadline = now_ns() + atoll(argv[4]) * 1000000LL;

    const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) return 1;
    int size = 64 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) < 0) {
        (void)setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    const int on = 1;
    (void)setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    struct sockaddr_in at;
    memset(&at, 0, sizeof at);
    at.sin_family = AF_INET;
    at.sin_port = htons((unsigned short)atoi(argv[1]));
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, (const struct sockaddr*)&at, sizeof at) < 0) {
        perror("sink: bind");
        return 1;
    }
    const int ready = open(argv[5], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (ready >= 0) close(ready);

    static unsigned char buffers[kBatch][kSize];
    static char controls[kBatch][CMSG_SPACE(sizeof(struct timespec))];
    static struct iovec vectors[kBatch];
    static struct mmsghdr messages[kBatch];
    /* One bit per value of the last three MAC bytes, which is where the generated
     * addresses differ. */
    unsigned char* seen = calloc(1 << 21, 1);
    long valid = 0, other = 0, distinct = 0;
    long long first = 0, last = 0, last_seen = 0;
    while (valid + other < count) {
        const long long now = now_ns();
        long long wait_ns = deadline - now;
        if (last_seen != 0 && last_seen + idle_ns - now < wait_ns) {
            wait_ns = last_seen + idle_ns - now;
        }
        if (wait_ns <= 0) break;
        struct pollfd waiting = {.fd = fd, .events = POLLIN};
        if (poll(&waiting, 1, (int)(wait_ns / 1000000 + 1)) <= 0) continue;
        for (;;) {
            for (int i = 0; i < kBatch; ++i) {
                vectors[i] = (struct iovec){.iov_base = buffers[i], .iov_len = kSize};
                messages[i].msg_hdr = (struct msghdr){.msg_iov = &vectors[i],
                                                      .msg_iovlen = 1,
                                                      .msg_control = controls[i],
                                                      .msg_controllen = sizeof controls[i]};
            }
            const int got = recvmmsg(fd, messages, kBatch, MSG_DONTWAIT, NULL);
            if (got <= 0) break;
            last_seen = now_ns();
            for (int i = 0; i < got; ++i) {
                const long long arrived = arrival_ns(&messages[i].msg_hdr);
                if (first == 0 || arrived < first) first = arrived;
                if (arrived > last) last = arrived;
                if (!is_magic(buffers[i], messages[i].msg_len)) {
                    ++other;
                    continue;
                }
                ++valid;
                const uint32_t low =
                    (uint32_t)buffers[i][9] << 16 | buffers[i][10] << 8 | buffers[i][11];
                if ((seen[low >> 3] & (1u << (low & 7))) == 0) {
                    seen[low >> 3] |= (unsigned char)(1u << (low & 7));
                    ++distinct;
                }
            }
            if (got < kBatch) break;
        }
        const struct timespec pause = {.tv_sec = 0, .tv_nsec = 1000000};
        nanosleep(&pause, NULL);
    }
    printf("%ld %ld %ld %lld\n", valid, other, distinct, last - first);
    return 0;
}
