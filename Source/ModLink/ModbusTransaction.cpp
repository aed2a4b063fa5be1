#include "ModbusTransaction.h"

TModbusTransaction::TModbusTransaction(int BufCapacity)
    : QueryBuffer(BufCapacity), ReplyBuffer(BufCapacity) {}
