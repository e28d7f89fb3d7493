#include "ui/platform/entry.h"

int main(int argc, char** argv) { return pelix_entry(argc, argv); }
