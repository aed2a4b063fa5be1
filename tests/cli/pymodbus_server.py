"""A pymodbus Modbus TCP server on 127.0.0.1 for the poller's interop test.

Usage: pymodbus_server.py PORT REGISTER=VALUE ...
Serves holding registers 0 to 199 (zero unless given), addresses as sent,
any unit identifier. Reads beyond register 199 get the exception reply
"illegal data address". Runs until killed.
"""
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartTcpServer


def main():
    # Client disconnects and the exception replies asked for are logged as
    # errors by pymodbus; they are expected here.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    port = int(sys.argv[1])
    values = [0] * 200
    for assignment in sys.argv[2:]:
        register, value = assignment.split("=")
        values[int(register)] = int(value, 0)
    block = ModbusSequentialDataBlock(0, values)
    slave = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves=slave, single=True)
    StartTcpServer(context=context, address=("127.0.0.1", port))


if __name__ == "__main__":
    main()
