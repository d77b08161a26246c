// Entry point of meshplay-a and meshplay-b; which one is decided by the profile it is built with.
#include "viewer/startup.h"

int main(int argc, char** argv) {
  return runViewer(argc, argv);
}
