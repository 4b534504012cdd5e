"""The item types, as named constants."""
from __future__ import annotations

import enum
from typing import Union

from . import _velfile


class ItemType(enum.IntEnum):
    """The item types; each compares equal to its code. str() gives the
    type's name as type_name() does ('int16', 'utf16', ...)."""

    GROUP = 0
    CHAR = 1
    INT8 = 2
    UINT8 = 3
    INT16 = 4
    UINT16 = 5
    INT32 = 6
    UINT32 = 7
    QUAD8 = 8
    QUAD9 = 9
    FLOAT32 = 10
    FLOAT64 = 11
    UTF16 = 12
    RAW = 13

    def __str__(self) -> str:
        return _velfile.type_name(self)


def item_type(code: int) -> Union[ItemType, int]:
    """The ItemType of a code, or the code itself when no type has it."""
    try:
        return ItemType(code)
    except ValueError:
        return code


_TEXT_TYPES = (ItemType.CHAR, ItemType.UTF16)
_PAIR_TYPES = (ItemType.QUAD8, ItemType.QUAD9)
