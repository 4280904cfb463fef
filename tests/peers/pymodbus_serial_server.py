#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""pymodbus's own serial server, as an independent Modbus peer for the tests.

Usage: pymodbus_serial_server.py DEVICE FRAMER UNIT[,UNIT...] [BAUD]
FRAMER is rtu or ascii. The line has no parity and 8 data bits whatever the framer: a
pseudo-terminal here refuses a parity and 7 data bits, and carries every character as it is.
Each unit holds registers 0 to 99 reading 1000 * unit + address;
addresses beyond them are refused with exception 2, as a real controller refuses what it lacks.
"""
import asyncio
import logging
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartAsyncSerialServer
from pymodbus.transaction import ModbusAsciiFramer, ModbusRtuFramer


def main():
    device, framer_name, units = sys.argv[1], sys.argv[2], sys.argv[3]
    baud = int(sys.argv[4]) if len(sys.argv) > 4 else 9600
    logging.basicConfig(level=logging.DEBUG if "-v" in sys.argv else logging.ERROR)
    slaves = {}
    for unit in (int(u) for u in units.split(",")):
        # pymodbus's sequential block starts at its address + 1 for the wire's address 0.
        registers = ModbusSequentialDataBlock(1, [1000 * unit + a for a in range(100)])
        slaves[unit] = ModbusSlaveContext(hr=registers, ir=registers, zero_mode=False)
    context = ModbusServerContext(slaves=slaves, single=False)
    framer = ModbusRtuFramer if framer_name == "rtu" else ModbusAsciiFramer
    print("serving", flush=True)
    asyncio.run(StartAsyncSerialServer(context=context, framer=framer, port=device,
                                       baudrate=baud, bytesize=8,
                                       parity="N", stopbits=1, timeout=0.005))


if __name__ == "__main__":
    main()
