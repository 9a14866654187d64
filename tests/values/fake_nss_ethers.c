/* A name service module for the tests: loaded by glibc for a source named in
 * /etc/nsswitch.conf (the build names the file libnss_NAME.so.2), it answers the ethers
 * lookup of every name that begins with "module-" with ee:ee:ee:ee:ee:ee, so a lookup that
 * reached it shows in the answer, and knows no other name. */
#include <nss.h>
#include <stddef.h>
#include <string.h>

#include <netinet/ether.h>

struct etherent {
    const char* e_name;
    struct ether_addr e_addr;
};

#define FAKE_CONCAT2(a, b, c) a##b##c
#define FAKE_CONCAT(a, b, c) FAKE_CONCAT2(a, b, c)

enum nss_status FAKE_CONCAT(_nss_, FAKE_NSS_SERVICE,
                            _gethostton_r)(const char* name, struct etherent* result, char* buffer,
                                           size_t length, int* error) {
    (void)buffer;
    (void)length;
    (void)error;
    if (strncmp(name, "module-", 7) != 0) return NSS_STATUS_NOTFOUND;
    result->e_name = name;
    memset(&result->e_addr, 0xee, sizeof result->e_addr);
    return NSS_STATUS_SUCCESS;
}
