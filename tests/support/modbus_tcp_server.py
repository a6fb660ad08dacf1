#!/usr/bin/python3
"""A Modbus TCP gateway stand-in on 127.0.0.1:PORT (pymodbus), any unit id.

Holding register n (1-based) holds 1000 + n except the set value (1) and
output (2); input register n holds 2000 + n except the set value the
instrument shows (3), which follows a write of register 1 as the
instrument's does; coils 1 and 2 are on (auto,
manual permitted), discrete inputs off. Writes are kept.

With a second argument, a list of unit ids such as "2,5", it is a gateway to
a line of those instruments only: each has its own registers, its PV (input
register 1) 100 x the unit id, and a unit not on the list gets the answer a
gateway gives for an instrument that is silent (exception 0B).
"""
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartTcpServer

port = int(sys.argv[1])
size = 8192


def instrument(pv=2001):
    holding = [1000 + n for n in range(1, size + 1)]
    holding[0] = 250  # SV 25.0
    holding[1] = 300  # OP 30.0 %
    inputs = ModbusSequentialDataBlock(0, [pv, 2002, 250] + [2000 + n for n in range(4, size + 1)])

    class Holding(ModbusSequentialDataBlock):
        def setValues(self, address, values):
            super().setValues(address, values)
            if address == 0:
                inputs.setValues(2, values[:1])

    return ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [0] * size),
        co=ModbusSequentialDataBlock(0, [1, 1] + [0] * (size - 2)),
        hr=Holding(0, holding),
        ir=inputs,
        zero_mode=True,
    )


if len(sys.argv) > 2:
    units = [int(u) for u in sys.argv[2].split(",")]
    context = ModbusServerContext(slaves={u: instrument(100 * u) for u in units}, single=False)
else:
    context = ModbusServerContext(slaves=instrument(), single=True)
StartTcpServer(context=context, address=("127.0.0.1", port))
