// Entry point of the orvexa server; the whole life of the server is the application's
// start-up routine.
#include <cstdio>

int main() {
  std::printf("orvexa: start-up not built yet\n");
  return 1;
}
