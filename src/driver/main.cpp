#include "driver/run.h"

int main(int argc, char** argv) {
  return vexmo::vexmo_main(argc, argv);
}
