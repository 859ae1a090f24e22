// Tries to open the port named on the command line from a second process and
// prints the message it gets (Windows-1251), or "opened".
#include <cstdio>

#include "comport/b_com_port.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  vestrel::TBComPort port;
  port.SetPort(argv[1]);
  try {
    port.Open();
  } catch (const vestrel::EComPort& e) {
    std::printf("%s", e.what());
    return 1;
  }
  std::printf("opened");
  return 0;
}
