#!/usr/bin/env python3
"""Writes the seed corpora of the two remoting fuzz targets: one valid message
of each kind, encoded as docs/com-remoting.md describes."""
import os
import struct

BASE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'corpus')
MAGIC = 0x4D4F434C


def msg(kind, call_id, body):
    return struct.pack('<IBBHII', MAGIC, 1, kind, 0, call_id, len(body)) + body


def guid(first=0x12345678):
    return struct.pack('<IHH', first, 0x1B2C, 0x4D3E) + bytes(
        [0x8F, 0x90, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6])


def text(s):
    return struct.pack('<I', len(s)) + s.encode('utf-16-le')


def bstr(b):
    return struct.pack('<I', len(b)) + b


def params(args, named=()):
    out = struct.pack('<II', len(args), len(named))
    for n in named:
        out += struct.pack('<i', n)
    return out + b''.join(args)


def v_i2(x): return struct.pack('<Hh', 2, x)
def v_i4(x): return struct.pack('<Hi', 3, x)
def v_ui1(x): return struct.pack('<HB', 17, x)
def v_bstr(b): return struct.pack('<H', 8) + bstr(b)
def r_bstr(b): return struct.pack('<H', 0x4008) + bstr(b)
def r_ui1(x): return struct.pack('<HB', 0x4011, x)


NULL_BSTR = struct.pack('<I', 0xFFFFFFFF)
INVOKE = struct.Struct('<IHB')  # locale, flags, options

SERVER = {
    'create': msg(1, 1, guid() + guid(0)),
    'query': msg(2, 2, guid()),
    'names': msg(3, 3, guid(0) + struct.pack('<II', 0x800, 2) + text('CmdRequest') +
                 text('ClientName')),
    'invoke-cmdrequest': msg(4, 4, struct.pack('<i', 208) + guid(0) + INVOKE.pack(0x400, 1, 0) +
                             params([r_bstr(b'$SIP' + bytes(44)), r_bstr(b'cpu\0'), v_i2(30)])),
    'invoke-vcrequestex': msg(4, 5, struct.pack('<i', 206) + guid(0) + INVOKE.pack(0x400, 1, 7) +
                              params([v_i2(1), v_i2(2), v_i2(3), v_i2(-1), r_bstr(b''),
                                      r_ui1(0x13), v_i2(0), r_ui1(0x40)])),
    'invoke-propput': msg(4, 6, struct.pack('<i', 207) + guid(0) + INVOKE.pack(0x400, 4, 0) +
                          params([v_bstr('Lorveth_Agent'.encode('utf-16-le'))], [-3])),
    'find': msg(5, 7, guid()),
    'advise': msg(6, 8, guid() + struct.pack('<II', 1, 1)),
    'unadvise': msg(7, 9, struct.pack('<I', 1)),
    'cancel': msg(8, 4, b''),
}

CLIENT = {
    'reply-hr': msg(0x80, 1, struct.pack('<i', 0)),
    'reply-names': msg(0x80, 3, struct.pack('<iIii', 0, 2, 208, 207)),
    'reply-invoke-outputs': msg(0x80, 4, struct.pack('<iIB', 0, 0, 1) + v_i4(7) + b'\x01' +
                                struct.pack('<HI', 0, 0x80020009) + bstr(b'src') + NULL_BSTR +
                                bstr(b'') + struct.pack('<I', 0) + struct.pack('<I', 4) +
                                struct.pack('<I', 0) + v_bstr(b'reply') +
                                struct.pack('<I', 1) + v_i2(5) + struct.pack('<I', 3) +
                                v_ui1(9) + struct.pack('<I', 2) + v_i4(11)),
    'reply-invoke-plain': msg(0x80, 5, struct.pack('<IIBBI', 0x80020003, 0, 0, 0, 0)),
    'event-fields': msg(0x90, 0, struct.pack('<IiIH', 1, 3, 0x400, 1) +
                        params([v_i2(0x1234), v_i2(0x311), v_i2(0), v_i2(0), v_ui1(0),
                                v_bstr(b'<Rules/>')])),
    'event-header': msg(0x90, 0, struct.pack('<IiIH', 1, 4, 0x400, 1) +
                        params([v_bstr(b'$SIP' + bytes(48)), struct.pack('<H', 8) + NULL_BSTR])),
    'refused': msg(0xF0, 0, struct.pack('<I', 0x80070005)),
}

for name, seeds in (('com_server_wire', SERVER), ('com_client_wire', CLIENT)):
    os.makedirs(os.path.join(BASE, name), exist_ok=True)
    for key, value in seeds.items():
        with open(os.path.join(BASE, name, key + '.bin'), 'wb') as out:
            out.write(value)
