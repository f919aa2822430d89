// A program that carries a version record, as the monitor's executable does.
#include "support/VersionRecord.h"

ORVANE_EMBED_VERSION_RECORD(1, 25, 8, 2);

int main() { return 0; }
