"""A pymodbus slave with given holding registers, for the poller's interop tests.

Usage: pymodbus_register_server.py PORT REGISTER=VALUE ...          Modbus TCP on 127.0.0.1:PORT
       pymodbus_register_server.py DEVICE BAUD REGISTER=VALUE ...   Modbus RTU on a serial device
Serves holding registers 0 to 199 (zero unless given), addresses as sent. Over
TCP it answers any unit identifier; over RTU slave address 1 only and stays
silent for any other, 8 data bits, no parity, 1 stop bit. Reads beyond
register 199 get the exception reply "illegal data address". Runs until killed.
"""
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartSerialServer, StartTcpServer
from pymodbus.transaction import ModbusRtuFramer


def holding_registers(assignments):
    values = [0] * 200
    for assignment in assignments:
        register, value = assignment.split("=")
        values[int(register)] = int(value, 0)
    return ModbusSequentialDataBlock(0, values)


def main():
    # Client disconnects and the exception replies asked for are logged as
    # errors by pymodbus; they are expected here.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    if sys.argv[1].isdigit():
        port = int(sys.argv[1])
        slave = ModbusSlaveContext(hr=holding_registers(sys.argv[2:]), zero_mode=True)
        context = ModbusServerContext(slaves=slave, single=True)
        StartTcpServer(context=context, address=("127.0.0.1", port))
    else:
        device, baud = sys.argv[1], int(sys.argv[2])
        slave = ModbusSlaveContext(hr=holding_registers(sys.argv[3:]), zero_mode=True)
        context = ModbusServerContext(slaves={1: slave}, single=False)
        StartSerialServer(context=context, framer=ModbusRtuFramer, port=device, baudrate=baud,
                          bytesize=8, parity="N", stopbits=1, timeout=0.005,
                          ignore_missing_slaves=True)


if __name__ == "__main__":
    main()
