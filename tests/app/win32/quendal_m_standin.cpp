// A stand-in for the companion process: it only waits to be stopped.
#include <windows.h>

int main() {
    ::Sleep(120000);
    return 0;
}
