#include "kavri.h"

Kavri::Kavri() = default;
Kavri::~Kavri() = default;
Kavri::Kavri(const Kavri &) = default;
Kavri &Kavri::operator=(const Kavri &) = default;
