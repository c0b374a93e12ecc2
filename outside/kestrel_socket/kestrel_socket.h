// The socket library the SMTP client loads by name (libkestrel.so): eight C entry points over
// POSIX sockets. Every entry returns 0 for success and an error number otherwise.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KES_ERR_NO_SERVICE = 4014,  // the host offers no service of that name
    KES_ERR_CLOSED = 4016,      // the peer has closed the connection
    KES_ERR_HOST = 4001,        // the host name is not known
    KES_ERR_CONNECT = 4002,     // no connection could be made (refused, unreachable, time-out)
    KES_ERR_HANDLE = 4003,      // not an open connection
    KES_ERR_TIMEOUT = 4004,     // the peer sent nothing within the read time-out
    KES_ERR_IO = 4005,          // another failure of the socket
    KES_ERR_ARGUMENT = 4006,    // a null pointer or a bad size
    KES_ERR_CANCELLED = 4007,   // the caller's wait hook ended a wait
};

enum { KES_NAME_SIZE = 512 };

int kestrel_connect(const char* host, const char* service, int* connection);
int GetMajorWindow(void* window);
int kestrel_getchar(int connection, int flags, char* byte);
int kestrel_put_data(int connection, const char* bytes, int length);
int kestrel_close(int connection);
// name: name_size bytes; addresses: list_size texts of KES_NAME_SIZE bytes each; real_name:
// KES_NAME_SIZE bytes.
int kestrel_gethostname(char* name, int name_size, char (*addresses)[KES_NAME_SIZE], char* real_name,
                        int list_size, int* count);
int kestrel_put_data_buffered(int connection, const char* bytes, int length);
int kestrel_put_data_flush(int connection);
// Optional for a client: asked between the slices of every wait (name lookup, connect, read,
// send) whether to go on; non-zero ends the wait with KES_ERR_CANCELLED. nullptr removes it.
void kestrel_set_wait_hook(int (*hook)(void*), void* arg);

#ifdef __cplusplus
}
#endif
