#ifndef PART
#define PART
float part() { return 1.0; }
#endif
