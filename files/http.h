// The HTTP client: a GET request over a TCP connection.
#pragma once

// Sends "GET path" to host:port and returns the number of body bytes; the
// body (a NUL-terminated heap text, free()d by the caller) in *body, null
// when there is none; the header likewise in *header when given. An extra
// request line (without its line end) is sent when not null. -1 when the
// connection fails, -2 for a path longer than 1020 characters.
int httpget(const char* path, const char* host, int port, const char* extra, char** body,
            char** header, int flags);
