/* The yardstick for the server benchmark: the least a thread-per-connection server can do on this
 * machine. One detached thread per accepted connection reads one framed request (a big-endian
 * 64-bit size, then that many bytes), writes a fixed reply, and closes. No password, no toolkit.
 *
 * Usage: bench_bare_server PORT   (listens on 127.0.0.1 until killed) */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

/* As long as the real server's answer to a greeting. */
static const char reply[46] = {0, 0, 0, 0, 0, 0, 0, 38};

static int read_exactly(int fd, char *buffer, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd, buffer + done, size - done);
        if (n <= 0)
            return -1;
        done += (size_t)n;
    }
    return 0;
}

static void *serve(void *argument)
{
    const int fd = (int)(intptr_t)argument;
    unsigned char head[8];
    char body[4096];
    if (read_exactly(fd, (char *)head, sizeof head) == 0) {
        uint64_t size = 0;
        for (int i = 0; i < 8; ++i)
            size = size << 8 | head[i];
        if (size <= sizeof body && read_exactly(fd, body, (size_t)size) == 0)
            (void)!write(fd, reply, sizeof reply);
    }
    close(fd);
    return NULL;
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in address = {0};
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)atoi(argv[1]));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, (struct sockaddr *)&address, sizeof address) != 0
        || listen(listener, 128) != 0) {
        perror("bench_bare_server");
        return 1;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    for (;;) {
        const int fd = accept(listener, NULL, NULL);
        if (fd < 0)
            continue;
        pthread_t thread;
        if (pthread_create(&thread, &attributes, serve, (void *)(intptr_t)fd) != 0)
            close(fd);
    }
}
