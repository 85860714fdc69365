"""Encoding of the request protocol's items: big-endian u8, u16, u32, f32 and strings
(u16 length, then the bytes), and the bulk decoders of the large replies.

Used by the client (request building, reply decoding) on the caller's thread. The bulk
decoders turn a reply body into columns with ``array`` rather than one tuple per sample:
a history reply holds up to 131072 samples.
"""

import struct
import sys
from array import array

U8 = struct.Struct(">B")
U16 = struct.Struct(">H")
U32 = struct.Struct(">I")
F32 = struct.Struct(">f")
U32_PAIR = struct.Struct(">II")
F32_U32 = struct.Struct(">fI")
U32_F32 = struct.Struct(">If")

REFUSED = 0xFFFFFFFF
# Longest string argument the server takes: 254 bytes and more end the connection.
MAX_STRING = 253

_WORD = "I" if array("I").itemsize == 4 else "L"
_SWAP = sys.byteorder == "little"


def string(text):
    """A string item from str (UTF-8) or bytes."""
    data = text.encode() if isinstance(text, str) else bytes(text)
    if len(data) > MAX_STRING:
        raise ValueError(f"string argument longer than {MAX_STRING} bytes")
    return U16.pack(len(data)) + data


def f32(value):
    """The f32 item of a Python number; ValueError when float32 cannot hold it."""
    try:
        return F32.pack(value)
    except (OverflowError, struct.error) as e:
        raise ValueError(f"{value!r} is not a float32 value") from e


def words(data):
    """The big-endian u32 words of `data` as an array of ints."""
    w = array(_WORD)
    w.frombytes(data)
    if _SWAP:
        w.byteswap()
    return w


def floats_of(word_column):
    """Reinterprets an array of u32 words (already in host order) as float32 values."""
    f = array("f")
    f.frombytes(word_column.tobytes())
    return f


def float32_text(value):
    """The shortest text that reads back as the same float32 value (CSV cells)."""
    if value != value or value in (float("inf"), float("-inf")):
        return repr(value)
    bits = F32.pack(value)
    for digits in (6, 7, 8, 9):
        text = "%.*g" % (digits, value)
        if F32.pack(float(text)) == bits:
            return text
    return repr(value)
