#include "records/ServiceRunOutput.h"

#include <QHashFunctions>

ServiceRunOutput ServiceRunOutput::inFile(bool empty)
{
    ServiceRunOutput output;
    output.m_inFile = !empty;
    return output;
}

size_t qHash(const ServiceRunOutput &output, size_t seed)
{
    return qHashMulti(seed, output.text(), output.isHeld());
}
