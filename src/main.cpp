#include <cstdio>

int main() {
  std::puts("chronoreel: start-up is being built");
  return 0;
}
