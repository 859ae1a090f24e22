#include "app/application.h"

int main(int argc, char** argv) {
  return vestrel::RunApplication(argc > 0 ? argv[0] : nullptr);
}
