#!/usr/bin/env python3
"""Says what each VST 2 module named on the command line is, from the module itself and not
through the program's host code: one line "KIND INPUTS OUTPUTS PATH" per module, where KIND is
  library     no VSTPluginMain or main: a support library, or not a plug-in at all
  noeffect    the entry point returned no effect record
  instrument  no inputs (a synthesizer: nothing to feed it)
  outofrange  no outputs, or more than 64 inputs or outputs
  effect      1 to 64 inputs and outputs
  broken      the probe itself crashed or hung inside the module
Each module is probed in a child process of its own (entry point, then effOpen, read the counts,
effClose), so a module that takes its process down is only that module's verdict.
"""
import ctypes, os, signal, sys

# The host callback; the effect's dispatcher has the same shape.
HOST = ctypes.CFUNCTYPE(ctypes.c_ssize_t, ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32,
                        ctypes.c_ssize_t, ctypes.c_void_p, ctypes.c_float)
MAX_CHANNELS = 64


class AEffect(ctypes.Structure):  # the VST 2 record's leading fields, as the ABI lays them out
    _fields_ = [("magic", ctypes.c_int32), ("dispatcher", ctypes.c_void_p),
                ("process", ctypes.c_void_p), ("setParameter", ctypes.c_void_p),
                ("getParameter", ctypes.c_void_p), ("numPrograms", ctypes.c_int32),
                ("numParams", ctypes.c_int32), ("numInputs", ctypes.c_int32),
                ("numOutputs", ctypes.c_int32), ("flags", ctypes.c_int32)]


@HOST
def host_callback(effect, opcode, index, value, ptr, opt):
    return {1: 2400, 16: 44100, 17: 512}.get(opcode, 0)  # version, sample rate, block size


def kind_of(path):
    try:
        lib = ctypes.CDLL(path)
        entry = next(getattr(lib, n) for n in ("VSTPluginMain", "main") if hasattr(lib, n))
    except (OSError, StopIteration):
        return "library", 0, 0
    entry.restype, entry.argtypes = ctypes.POINTER(AEffect), [HOST]
    record = entry(host_callback)
    if not record:
        return "noeffect", 0, 0
    dispatcher = HOST(record.contents.dispatcher)
    dispatcher(record, 0, 0, 0, None, 0.0)  # effOpen: some effects settle their counts here
    inputs, outputs = record.contents.numInputs, record.contents.numOutputs
    dispatcher(record, 1, 0, 0, None, 0.0)  # effClose
    kind = ("instrument" if inputs < 1 else "outofrange"
            if inputs > MAX_CHANNELS or outputs > MAX_CHANNELS or outputs < 1 else "effect")
    return kind, inputs, outputs


def probe(path):
    read, write = os.pipe()
    child = os.fork()
    if child == 0:
        os.close(read)
        signal.alarm(20)
        os.write(write, ("%s %d %d" % kind_of(path)).encode())
        os._exit(0)
    os.close(write)
    with os.fdopen(read) as answer:
        verdict = answer.read()
    os.waitpid(child, 0)
    return verdict or "broken 0 0"


if __name__ == "__main__":
    for module in sys.argv[1:]:
        print(probe(module), module, flush=True)
