"""A pymodbus Modbus RTU slave on a serial device, for the poller's serial test.

Usage: pymodbus_rtu_server.py DEVICE BAUD REGISTER=VALUE ...
Serves holding registers 0 to 199 (zero unless given) at slave address 1 and
stays silent for any other address,
8 data bits, no parity, 1 stop bit. Reads beyond register 199 get the exception
reply "illegal data address". Runs until killed.
"""
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartSerialServer
from pymodbus.transaction import ModbusRtuFramer


def main():
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    device, baud = sys.argv[1], int(sys.argv[2])
    values = [0] * 200
    for assignment in sys.argv[3:]:
        register, value = assignment.split("=")
        values[int(register)] = int(value, 0)
    slave = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, values), zero_mode=True)
    context = ModbusServerContext(slaves={1: slave}, single=False)
    StartSerialServer(context=context, framer=ModbusRtuFramer, port=device, baudrate=baud,
                      bytesize=8, parity="N", stopbits=1, timeout=0.005,
                      ignore_missing_slaves=True)


if __name__ == "__main__":
    main()
