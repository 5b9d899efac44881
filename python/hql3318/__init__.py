"""Drive the HQL3318 evaluation application from Python.

::

    import hql3318

    with hql3318.Client() as app:              # the running application
        app.run("open", "/dev/ttyUSB0")
        app["SpiController.CR5A[9:8]"] = 2
        app.SpiController.WriteCR5A()
        print(app.Board["ADC_Result1"])

    with hql3318.simulated() as app:           # its own simulated board
        ...

Values: ``int``, ``float``, ``str`` and ``bytes`` go and come as they are;
``bool`` goes as 1 or 0. The wire does not tell booleans from integers, so
``get`` answers 1 or 0 for a bit and ``run`` answers True or False (functions
answer booleans). Text is Latin-1.

Errors derive from ``hql3318.Error``: ``NotRunning`` (no application on
the socket), ``Refused`` (another user's application), ``TimeoutError``
(also a built-in TimeoutError), ``CommandError`` (an ``err`` answer, with
the application's ``reason``) and ``ProtocolError``. A function an applet
does not have raises AttributeError.
"""

from .client import Applet, Batch, Client, Result
from .protocol import CommandError, Error, NotRunning, ProtocolError, Refused, TimeoutError, socket_path
from .simulation import StartError, find_program, simulated

__version__ = "0.1.0"

# TimeoutError stays out: a star import would hide the built-in one.
__all__ = [
    "Applet",
    "Batch",
    "Client",
    "CommandError",
    "Error",
    "NotRunning",
    "ProtocolError",
    "Refused",
    "Result",
    "StartError",
    "find_program",
    "simulated",
    "socket_path",
]
