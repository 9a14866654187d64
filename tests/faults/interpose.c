/* A fault injector for whole-program tests, loaded with LD_PRELOAD in front of the C
 * library. It wraps nanosleep, sendto, poll, recvfrom and fopen and, as the environment
 * asks, makes chosen calls fail, and it can catch what goes to the system log; every
 * other call goes through to the C library. The program it is made for has one thread.
 *
 * For F one of NANOSLEEP, SENDTO, POLL, RECVFROM:
 *   TESK_FAULT_F_EINTR=N    the first N calls of F fail with EINTR. An interrupted
 *                           nanosleep reports half its request as the time remaining
 *                           and does not sleep; an interrupted sendto sends nothing and
 *                           an interrupted recvfrom takes no datagram.
 *   TESK_FAULT_F_ERRNO=E    the calls after those fail with E (a name such as ENETUNREACH,
 *                           or a number) ...
 *   TESK_FAULT_F_AFTER=K    ... once K calls have gone through (default 0) ...
 *   TESK_FAULT_F_TIMES=M    ... M times (default: every call from then on).
 *   TESK_FAULT_FOPEN_EACCES=PATH[:PATH...]   fopen of exactly such a PATH fails with EACCES.
 *   TESK_FAULT_SYSLOG=FILE  the system log is not written: every message goes to FILE as
 *                           one line, "daemon.info tesk[PID]: TEXT" (facility and level, then
 *                           the identity that openlog gave, and the process id with LOG_PID).
 *   TESK_FAULT_LOG=FILE     every wrapped call appends one line to FILE, such as
 *                           "nanosleep 0.200000000 -> EINTR rem 0.100000000" or
 *                           "sendto 102 9f3c6a0d2e1b4a77 -> 102" (length, FNV-1a of the bytes).
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

/* glibc declares the socket address arguments as transparent unions under _GNU_SOURCE. */
#if defined(__GLIBC__)
#define TO_ADDRESS __CONST_SOCKADDR_ARG
#define FROM_ADDRESS __SOCKADDR_ARG
#else
#define TO_ADDRESS const struct sockaddr*
#define FROM_ADDRESS struct sockaddr*
#endif

enum { NANOSLEEP, SENDTO, POLL, RECVFROM, CALLS };

static const char* const call_names[CALLS] = {"NANOSLEEP", "SENDTO", "POLL", "RECVFROM"};

struct plan {
    int ready;
    long eintr; /* calls that fail with EINTR first */
    int error;  /* then this errno, or 0 */
    long after; /* calls that go through before `error` starts */
    long times; /* calls that fail with `error`; -1: all */
    long calls; /* calls seen so far */
};

static struct plan plans[CALLS];

static const struct {
    const char* name;
    int value;
} errno_names[] = {
    {"EINTR", EINTR},
    {"ENETUNREACH", ENETUNREACH},
    {"EACCES", EACCES},
    {"EPERM", EPERM},
    {"EHOSTUNREACH", EHOSTUNREACH},
    {"ENOBUFS", ENOBUFS},
    {"EINVAL", EINVAL},
    {"EIO", EIO},
    {"ENOMEM", ENOMEM},
    {"EFAULT", EFAULT},
    {"EMSGSIZE", EMSGSIZE},
    {"ECONNREFUSED", ECONNREFUSED},
    {"ENOENT", ENOENT},
    {"EISDIR", EISDIR},
    {"EBADF", EBADF},
    {"ENOTSOCK", ENOTSOCK},
    {"EDESTADDRREQ", EDESTADDRREQ},
    {"ENOSPC", ENOSPC},
    {"EAGAIN", EAGAIN},
};

static const char* errno_name(int value) {
    for (size_t i = 0; i < sizeof errno_names / sizeof errno_names[0]; ++i)
        if (errno_names[i].value == value) return errno_names[i].name;
    return "E?";
}

static long env_number(const char* call, const char* what, long fallback) {
    char name[64];
    snprintf(name, sizeof name, "TESK_FAULT_%s_%s", call, what);
    const char* text = getenv(name);
    if (text == NULL || *text == '\0') return fallback;
    return strtol(text, NULL, 10);
}

static int env_errno(const char* call) {
    char name[64];
    snprintf(name, sizeof name, "TESK_FAULT_%s_ERRNO", call);
    const char* text = getenv(name);
    if (text == NULL || *text == '\0') return 0;
    for (size_t i = 0; i < sizeof errno_names / sizeof errno_names[0]; ++i)
        if (strcmp(text, errno_names[i].name) == 0) return errno_names[i].value;
    return (int)strtol(text, NULL, 10);
}

static struct plan* plan_for(int call) {
    struct plan* plan = &plans[call];
    if (!plan->ready) {
        plan->eintr = env_number(call_names[call], "EINTR", 0);
        plan->error = env_errno(call_names[call]);
        plan->after = env_number(call_names[call], "AFTER", 0);
        plan->times = env_number(call_names[call], "TIMES", -1);
        plan->ready = 1;
    }
    return plan;
}

/* The errno that this call of `call` is to fail with, or 0 to let it through. */
static int fault_for(int call) {
    struct plan* plan = plan_for(call);
    const long number = ++plan->calls; /* 1, 2, ... */
    if (number <= plan->eintr) return EINTR;
    if (plan->error == 0) return 0;
    const long first = plan->eintr + plan->after + 1;
    if (number < first) return 0;
    if (plan->times >= 0 && number >= first + plan->times) return 0;
    return plan->error;
}

static void trace(const char* format, ...) {
    const char* path = getenv("TESK_FAULT_LOG");
    if (path == NULL || *path == '\0') return;
    char line[512];
    va_list args;
    va_start(args, format);
    int length = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0) return;
    if ((size_t)length > sizeof line - 2) length = (int)sizeof line - 2;
    line[length++] = '\n';
    const int saved = errno;
    /* Opened and closed each time, so that the program's descriptor numbers stay its own. */
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t unused = write(fd, line, (size_t)length);
        (void)unused;
        close(fd);
    }
    errno = saved;
}

static void* next_symbol(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == NULL) {
        static const char message[] = "interpose: a C library call cannot be found\n";
        ssize_t unused = write(2, message, sizeof message - 1);
        (void)unused;
        abort();
    }
    return symbol;
}

/* Looks up the C library's own `name` into the function pointer at `real`. ISO C has no
 * conversion from an object pointer to a function pointer; the bytes are copied. */
static void bind_next(void* real, size_t size, const char* name) {
    void* symbol = next_symbol(name);
    memcpy(real, &symbol, size);
}
#define BIND_NEXT(real, name) \
    if ((real) == NULL) bind_next(&(real), sizeof(real), (name))

static uint64_t fnv1a(const void* bytes, size_t length) {
    const unsigned char* p = bytes;
    uint64_t hash = 0xcbf29ce484222325u;
    for (size_t i = 0; i < length; ++i) {
        hash ^= p[i];
        hash *= 0x100000001b3u;
    }
    return hash;
}

static const char* result_text(char* buffer, size_t size, long result, int error) {
    if (result < 0)
        snprintf(buffer, size, "%s", errno_name(error));
    else
        snprintf(buffer, size, "%ld", result);
    return buffer;
}

int nanosleep(const struct timespec* request, struct timespec* remain) {
    static int (*real)(const struct timespec*, struct timespec*);
    BIND_NEXT(real, "nanosleep");
    /* The request may be the same record as the remainder. */
    const struct timespec asked = *request;
    const int fault = fault_for(NANOSLEEP);
    if (fault == EINTR) {
        const long long total = (long long)asked.tv_sec * 1000000000LL + asked.tv_nsec;
        const long long half = total / 2;
        if (remain != NULL) {
            remain->tv_sec = (time_t)(half / 1000000000LL);
            remain->tv_nsec = (long)(half % 1000000000LL);
        }
        trace("nanosleep %lld.%09ld -> EINTR rem %lld.%09ld", (long long)asked.tv_sec,
              (long)asked.tv_nsec, half / 1000000000LL, (long)(half % 1000000000LL));
        errno = EINTR;
        return -1;
    }
    if (fault != 0) {
        trace("nanosleep %lld.%09ld -> %s", (long long)asked.tv_sec, (long)asked.tv_nsec,
              errno_name(fault));
        errno = fault;
        return -1;
    }
    const int result = real(request, remain);
    const int error = errno;
    char text[32];
    trace("nanosleep %lld.%09ld -> %s", (long long)asked.tv_sec, (long)asked.tv_nsec,
          result_text(text, sizeof text, result, error));
    errno = error;
    return result;
}

ssize_t sendto(int fd, const void* bytes, size_t length, int flags, TO_ADDRESS to,
               socklen_t to_length) {
    static ssize_t (*real)(int, const void*, size_t, int, TO_ADDRESS, socklen_t);
    BIND_NEXT(real, "sendto");
    const uint64_t hash = fnv1a(bytes, length);
    const int fault = fault_for(SENDTO);
    if (fault != 0) {
        trace("sendto %zu %016llx -> %s", length, (unsigned long long)hash, errno_name(fault));
        errno = fault;
        return -1;
    }
    const ssize_t result = real(fd, bytes, length, flags, to, to_length);
    const int error = errno;
    char text[32];
    trace("sendto %zu %016llx -> %s", length, (unsigned long long)hash,
          result_text(text, sizeof text, (long)result, error));
    errno = error;
    return result;
}

int poll(struct pollfd* fds, nfds_t count, int timeout) {
    static int (*real)(struct pollfd*, nfds_t, int);
    BIND_NEXT(real, "poll");
    const int fault = fault_for(POLL);
    if (fault != 0) {
        trace("poll %lu -> %s", (unsigned long)count, errno_name(fault));
        errno = fault;
        return -1;
    }
    const int result = real(fds, count, timeout);
    const int error = errno;
    char text[32];
    trace("poll %lu -> %s", (unsigned long)count, result_text(text, sizeof text, result, error));
    errno = error;
    return result;
}

ssize_t recvfrom(int fd, void* bytes, size_t length, int flags, FROM_ADDRESS from,
                 socklen_t* from_length) {
    static ssize_t (*real)(int, void*, size_t, int, FROM_ADDRESS, socklen_t*);
    BIND_NEXT(real, "recvfrom");
    const int fault = fault_for(RECVFROM);
    if (fault != 0) {
        trace("recvfrom -> %s", errno_name(fault));
        errno = fault;
        return -1;
    }
    const ssize_t result = real(fd, bytes, length, flags, from, from_length);
    const int error = errno;
    char text[32];
    trace("recvfrom -> %s", result_text(text, sizeof text, (long)result, error));
    errno = error;
    return result;
}

/* Whether `path` is one of those that TESK_FAULT_FOPEN_EACCES lists. */
static int refused_path(const char* path) {
    const char* list = getenv("TESK_FAULT_FOPEN_EACCES");
    const size_t length = strlen(path);
    while (list != NULL && *list != '\0') {
        const char* end = strchr(list, ':');
        const size_t entry = end != NULL ? (size_t)(end - list) : strlen(list);
        if (entry == length && strncmp(list, path, length) == 0) return 1;
        list = end != NULL ? end + 1 : NULL;
    }
    return 0;
}

static FILE* open_file(const char* symbol, const char* path, const char* mode) {
    static FILE* (*real[2])(const char*, const char*);
    const int which = strcmp(symbol, "fopen") == 0 ? 0 : 1;
    BIND_NEXT(real[which], symbol);
    if (path != NULL && refused_path(path)) {
        trace("fopen %s -> EACCES", path);
        errno = EACCES;
        return NULL;
    }
    FILE* file = real[which](path, mode);
    const int error = errno;
    trace("fopen %s -> %s", path != NULL ? path : "(null)", file != NULL ? "0" : errno_name(error));
    errno = error;
    return file;
}

FILE* fopen(const char* path, const char* mode) {
    return open_file("fopen", path, mode);
}

#if defined(__GLIBC__)
/* The fortified entry points that a build with _FORTIFY_SOURCE calls instead. */
int __poll_chk(struct pollfd* fds, nfds_t count, int timeout, size_t size) {
    if (count > size / sizeof *fds) abort();
    return poll(fds, count, timeout);
}

ssize_t __recvfrom_chk(int fd, void* bytes, size_t length, size_t size, int flags,
                       FROM_ADDRESS from, socklen_t* from_length) {
    if (length > size) abort();
    return recvfrom(fd, bytes, length, flags, from, from_length);
}

FILE* fopen64(const char* path, const char* mode) {
    return open_file("fopen64", path, mode);
}
#endif

/* The system log, caught. */

static char log_identity[128];
static int log_option;
static int log_facility = LOG_USER;

static const char* syslog_file(void) {
    const char* path = getenv("TESK_FAULT_SYSLOG");
    return path != NULL && *path != '\0' ? path : NULL;
}

static const char* facility_name(int facility) {
    static const struct {
        int value;
        const char* name;
    } names[] = {{LOG_KERN, "kern"},     {LOG_USER, "user"},     {LOG_MAIL, "mail"},
                 {LOG_DAEMON, "daemon"}, {LOG_AUTH, "auth"},     {LOG_SYSLOG, "syslog"},
                 {LOG_LPR, "lpr"},       {LOG_NEWS, "news"},     {LOG_UUCP, "uucp"},
                 {LOG_CRON, "cron"},     {LOG_LOCAL0, "local0"}, {LOG_LOCAL7, "local7"}};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i)
        if (names[i].value == facility) return names[i].name;
    return "facility?";
}

static void append_line(const char* path, const char* line, size_t length) {
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t unused = write(fd, line, length);
    (void)unused;
    close(fd);
}

static void catch_message(const char* path, int priority, const char* format, va_list args) {
    static const char* const levels[] = {"emerg",   "alert",  "crit", "err",
                                         "warning", "notice", "info", "debug"};
    const int saved = errno;
    /* "%m" is the text of errno, as syslog itself reads it. */
    char expanded[1024];
    size_t out = 0;
    for (const char* p = format; *p != '\0' && out < sizeof expanded - 1; ++p) {
        if (p[0] == '%' && p[1] == 'm') {
            const char* text = strerror(saved);
            while (*text != '\0' && out < sizeof expanded - 1)
                expanded[out++] = *text++;
            ++p;
        } else {
            expanded[out++] = *p;
        }
    }
    expanded[out] = '\0';
    char message[2048];
    vsnprintf(message, sizeof message, expanded, args);
    const int facility = (priority & LOG_FACMASK) != 0 ? (priority & LOG_FACMASK) : log_facility;
    char pid[32] = "";
    if (log_option & LOG_PID) snprintf(pid, sizeof pid, "[%d]", (int)getpid());
    char line[2400];
    int length = snprintf(line, sizeof line - 1, "%s.%s %s%s: %s", facility_name(facility),
                          levels[priority & LOG_PRIMASK], log_identity, pid, message);
    if (length < 0) return;
    if ((size_t)length > sizeof line - 2) length = (int)sizeof line - 2;
    line[length++] = '\n';
    append_line(path, line, (size_t)length);
    errno = saved;
}

void openlog(const char* identity, int option, int facility) {
    static void (*real)(const char*, int, int);
    snprintf(log_identity, sizeof log_identity, "%s", identity != NULL ? identity : "");
    log_option = option;
    log_facility = facility != 0 ? facility : LOG_USER;
    if (syslog_file() != NULL) return;
    BIND_NEXT(real, "openlog");
    real(identity, option, facility);
}

void vsyslog(int priority, const char* format, va_list args) {
    static void (*real)(int, const char*, va_list);
    const char* path = syslog_file();
    if (path != NULL) {
        catch_message(path, priority, format, args);
        return;
    }
    BIND_NEXT(real, "vsyslog");
    real(priority, format, args);
}

void syslog(int priority, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}

#if defined(__GLIBC__)
void __vsyslog_chk(int priority, int flag, const char* format, va_list args) {
    (void)flag;
    vsyslog(priority, format, args);
}

void __syslog_chk(int priority, int flag, const char* format, ...) {
    (void)flag;
    va_list args;
    va_start(args, format);
    vsyslog(priority, format, args);
    va_end(args);
}
#endif
