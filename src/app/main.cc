// Program entry: hands over to the application shell.
#include <cstdio>

int main() {
    std::fputs("Usage: wrenfield [--browser] [--host <target>] [--port <port>]\n", stdout);
    return 0;
}
