// The independent registry-file readers of the platform tests, linked into this suite as well.
#include "platform/independent_readers.cpp"  // NOLINT(bugprone-suspicious-include)
