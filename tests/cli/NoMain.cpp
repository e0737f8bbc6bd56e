// A library that loads but exports no main: the tool must refuse it.
extern "C" int not_a_module() { return 0; }
