#!/usr/bin/env python3
"""Turns the strace logs of fuzz/capture-traffic.sh into fuzz corpus inputs.

  capture-traffic.py TRACE_DIR CORPUS_DIR

TRACE_DIR/snmpsvc holds the datagrams snmpsvc received, TRACE_DIR/switchd the
socket reads of switchd.  Each input is written once, named after a hash of
its content."""
import hashlib
import os
import re
import struct
import sys

LIMIT = 40  # inputs a corpus gains per run at most

CALL = re.compile(r'^(\d+)\s+(read|recvfrom|recvmsg)\((\d+)<([^>]*)>,\s*(.*)$')
RESUMED = re.compile(r'^(\d+)\s+<\.\.\. (read|recvfrom|recvmsg) resumed>\s*(.*)$')
# The bytes read: recvmsg's first buffer, else the call's first string.
DATA = re.compile(r'(?:iov_base=|^)"((?:\\x[0-9a-f]{2})*)"')
RESULT = re.compile(r'\)\s*=\s*(\d+)\s*$')


def unhex(text):
    """The bytes of strace's \\x-escaped text (all of it escaped, as -xx does)."""
    return bytes.fromhex(text.replace('\\x', ''))


def socket_reads(path):
    """(call, descriptor, bytes) of each successful read from a socket, in order."""
    pending = {}
    with open(path, errors='replace') as log:
        for line in log:
            line = line.rstrip('\n')
            call = CALL.match(line)
            if call:
                pid, call_name, fd, what, rest = call.groups()
                if rest.endswith('<unfinished ...>'):
                    pending[pid] = (fd, what)
                    continue
            else:
                resumed = RESUMED.match(line)
                if not resumed or resumed.group(1) not in pending:
                    continue
                fd, what = pending.pop(resumed.group(1))
                call_name, rest = resumed.group(2), resumed.group(3)
            what = unhex(what).decode(errors='replace')
            if not (what.startswith('socket:') or what.startswith('UNIX')):
                continue
            data, result = DATA.search(rest), RESULT.search(rest)
            if not data or not result or int(result.group(1)) == 0:
                continue
            raw = unhex(data.group(1))
            yield call_name, fd + what, raw[:int(result.group(1))]


# --- SNMP: BER as a manager sends it, Net-SNMP's layout as snmpsvc gets it.

def ber(data, at):
    """(tag, content, next position) of the element at `at`."""
    tag = data[at]
    length = data[at + 1]
    at += 2
    if length & 0x80:
        count = length & 0x7f
        length = int.from_bytes(data[at:at + count], 'big')
        at += count
    return tag, data[at:at + length], at + length


def elements(data):
    at = 0
    while at < len(data):
        tag, content, at = ber(data, at)
        yield tag, content


def arcs(content):
    out, value = [], 0
    for byte in content:
        value = (value << 7) | (byte & 0x7f)
        if not byte & 0x80:
            out.append(value)
            value = 0
    if not out:
        return []
    first = out[0]
    head = [min(first // 40, 2), first - 40 * min(first // 40, 2)]
    return head + out[1:]


def counter64(value):
    return struct.pack('<QQ', value >> 32, value & 0xffffffff)


def netsnmp_value(tag, content):
    """The fuzzer's input for one received value, or None."""
    if tag == 0x02:
        return bytes([tag]) + struct.pack('<q', int.from_bytes(content, 'big', signed=True))
    if tag in (0x41, 0x42, 0x43, 0x47):
        return bytes([tag]) + struct.pack('<Q', int.from_bytes(content, 'big') & 0xffffffff)
    if tag == 0x46:
        return bytes([tag]) + counter64(int.from_bytes(content, 'big'))
    if tag == 0x06:
        return bytes([tag]) + b''.join(struct.pack('<Q', a) for a in arcs(content))
    if tag == 0x44 and len(content) >= 3 and content[0] == 0x9f:
        # Net-SNMP unwraps the special types an opaque carries.
        inner, value = content[1], content[3:3 + content[2]]
        if inner == 0x78 and len(value) == 4:
            return bytes([inner]) + struct.pack('<f', struct.unpack('>f', value)[0])
        if inner == 0x79 and len(value) == 8:
            return bytes([inner]) + struct.pack('<d', struct.unpack('>d', value)[0])
        if inner in (0x76, 0x7a, 0x7b):
            return bytes([inner]) + counter64(int.from_bytes(value, 'big', signed=inner == 0x7a)
                                               & 0xffffffffffffffff)
    return bytes([tag]) + content


def varbinds(datagram):
    """(name arcs, fuzzer input) of each variable of an SNMP message."""
    _, message, _ = ber(datagram, 0)
    parts = list(elements(message))
    pdu_tag, pdu = parts[-1]
    if pdu_tag & 0xe0 != 0xa0:
        return
    fields = list(elements(pdu))
    for _, binding in elements(fields[-1][1]):
        (_, name), (tag, value) = list(elements(binding))
        yield arcs(name), netsnmp_value(tag, value)


# --- Remoting: messages are a 16-byte header whose last word is the body size.

HEADER = 16
MAGIC = b'LCOM'


def messages(stream):
    at = 0
    while at + HEADER <= len(stream) and stream[at:at + 4] == MAGIC:
        size = struct.unpack_from('<I', stream, at + 12)[0]
        if at + HEADER + size > len(stream):
            break
        yield stream[at:at + HEADER + size]
        at += HEADER + size


def one_of_each(frames):
    """A message of each kind and size: calls repeat with other values."""
    kinds = {}
    for frame in frames:
        kinds.setdefault((frame[5], len(frame)), frame)
    return kinds.values()


def spread(items, count):
    """At most `count` of `items`, evenly over the list."""
    items = list(items)
    if len(items) <= count:
        return items
    return [items[i * len(items) // count] for i in range(count)]


def write(corpus, inputs):
    os.makedirs(corpus, exist_ok=True)
    added = 0
    for data in spread(dict.fromkeys(inputs), LIMIT):
        path = os.path.join(corpus, 'real-' + hashlib.sha1(data).hexdigest()[:12])
        if not os.path.exists(path):
            with open(path, 'wb') as out:
                out.write(data)
            added += 1
    print(f'{added} new inputs in {corpus} ({len(os.listdir(corpus))} in all)')


def main(traces, corpora):
    values, names = [], []
    client_streams = {}
    for call_name, connection, data in socket_reads(os.path.join(traces, 'snmpsvc')):
        if call_name == 'read':
            client_streams[connection] = client_streams.get(connection, b'') + data
            continue
        try:
            for name, value in varbinds(data):
                values.append(value)
                names.append('.'.join(map(str, name)).encode())
        except (IndexError, ValueError):
            continue  # not an SNMP message this parser follows
    # Values first (every distinct one), then as many names as fit.
    values = list(dict.fromkeys(values))
    names = spread(dict.fromkeys(names), max(LIMIT - len(values), 8))
    write(os.path.join(corpora, 'snmpsvc_varbind'), values[:LIMIT - len(names)] + names)

    streams = {}
    for _, connection, data in socket_reads(os.path.join(traces, 'switchd')):
        streams[connection] = streams.get(connection, b'') + data
    frames, runs = [], []
    for stream in streams.values():
        found = list(messages(stream))
        frames += found
        runs += [b''.join(found[i:i + 6]) for i in range(0, len(found), 6)]
    write(os.path.join(corpora, 'com_server_wire'), one_of_each(frames))
    write(os.path.join(corpora, 'com_stream'), spread(dict.fromkeys(runs), 20))
    replies = [m for stream in client_streams.values() for m in messages(stream)]
    write(os.path.join(corpora, 'com_client_wire'), one_of_each(replies))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
