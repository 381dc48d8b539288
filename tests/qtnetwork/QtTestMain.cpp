// The reliability suite runs on the transport suite's main, from here.
#include "../transport/TransportTestMain.cpp"
