#include "cli/session.h"

int main(int argc, char** argv) {
  return vestrel::cli::Run(argc, argv);
}
