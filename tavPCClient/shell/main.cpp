#include "ClientStartup.h"

int main(int argc, char** argv) {
  return ClientStartup::run(argc, argv);
}
