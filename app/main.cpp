#include <cstdio>

int main() {
    std::puts("Sweepkin: work in progress.");
    return 1;
}
