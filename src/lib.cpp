// Placeholder module entry; replaced by the real registration.
#include "py/pyref.h"

static PyModuleDef quillex_module = {PyModuleDef_HEAD_INIT, "quillex", "quillex module", -1, nullptr, nullptr, nullptr, nullptr, nullptr};

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_quillex() { return PyModule_Create(&quillex_module); }
