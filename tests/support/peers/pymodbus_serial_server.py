"""A Modbus serial slave from Debian's python3-pymodbus, for the serial client's interop tests.

Usage: pymodbus_serial_server.py PORT rtu|ascii UNIT [STOPBITS]
PORT is a serial device, or tcp://127.0.0.1:N to take the same frames over TCP on
that port, as a serial device server passes them.
Every table holds a known pattern: coil and discrete input i are set when i % 3 == 0,
holding register i is 3 * i + 1 and input register i is 1000 + i.
"""
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.device import ModbusDeviceIdentification
from pymodbus.server import StartSerialServer, StartTcpServer
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer


def main():
    port, mode, unit = sys.argv[1], sys.argv[2], int(sys.argv[3])
    stopbits = int(sys.argv[4]) if len(sys.argv) > 4 else 1
    size = 3000
    store = ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [i % 3 == 0 for i in range(size)]),
        co=ModbusSequentialDataBlock(0, [i % 3 == 0 for i in range(size)]),
        hr=ModbusSequentialDataBlock(0, [(3 * i + 1) & 0xFFFF for i in range(size)]),
        ir=ModbusSequentialDataBlock(0, [(1000 + i) & 0xFFFF for i in range(size)]),
        zero_mode=True)
    context = ModbusServerContext(slaves={unit: store}, single=False)
    identity = ModbusDeviceIdentification()
    identity.VendorName = "interop"
    logging.basicConfig(level=logging.CRITICAL)
    framer = ModbusRtuFramer if mode == "rtu" else ModbusAsciiFramer
    if port.startswith("tcp://"):
        host, number = port[len("tcp://"):].rsplit(":", 1)
        StartTcpServer(context=context, identity=identity, framer=framer,
                       address=(host, int(number)))
    else:
        StartSerialServer(context=context, identity=identity, framer=framer, port=port,
                          baudrate=19200, bytesize=8, parity="N", stopbits=stopbits,
                          timeout=0.005)


if __name__ == "__main__":
    main()
