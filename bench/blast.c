/* The reference sender: the least a program must do to send Wake-on-LAN magic packets.
 * Sends COUNT packets to ADDRESS:PORT with sendto, one socket, no secret. The first packet
 * carries MAC, each further one the MAC whose last three bytes are one more, which are the
 * addresses that the benchmark's generated configurations give their hosts. With -e, MAC is
 * first looked up as a host name in the ethers database, as a tool must that lets an ethers
 * name win over the text read as an address.
 *
 * Usage: blast [-e] ADDRESS PORT MAC COUNT */
#include <arpa/inet.h>
#include <netinet/ether.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

int main(int argc, char** argv) {
    const int ethers = argc > 1 && strcmp(argv[1], "-e") == 0;
    argc -= ethers;
    argv += ethers;
    if (argc != 5) {
        fprintf(stderr, "usage: blast [-e] ADDRESS PORT MAC COUNT\n");
        return 2;
    }
    struct sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((unsigned short)atoi(argv[2]));
    if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) return 2;
    unsigned mac[6];
    struct ether_addr named;
    if (ethers && ether_hostton(argv[3], &named) == 0) {
        for (int i = 0; i < 6; ++i)
            mac[i] = named.ether_addr_octet[i];
    } else if (sscanf(argv[3], "%x:%x:%x:%x:%x:%x", &mac[0], &mac[1], &mac[2], &mac[3], &mac[4],
                      &mac[5]) != 6) {
        return 2;
    }
    const long count = atol(argv[4]);

    const int fd = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (fd < 0) return 1;
    const int on = 1;
    (void)setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    unsigned char packet[102];
    memset(packet, 0xFF, 6);
    unsigned long low = (unsigned long)mac[3] << 16 | mac[4] << 8 | mac[5];
    for (long i = 0; i < count; ++i, ++low) {
        unsigned char bytes[6];
        for (int b = 0; b < 3; ++b)
            bytes[b] = (unsigned char)mac[b];
        bytes[3] = (unsigned char)(low >> 16);
        bytes[4] = (unsigned char)(low >> 8);
        bytes[5] = (unsigned char)low;
        for (int copy = 0; copy < 16; ++copy)
            memcpy(packet + 6 + 6 * copy, bytes, 6);
        if (sendto(fd, packet, sizeof packet, 0, (const struct sockaddr*)&to, sizeof to) < 0) {
            perror("blast: sendto");
            return 1;
        }
    }
    return 0;
}
