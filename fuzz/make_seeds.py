#!/usr/bin/env python3
"""Builds the seed folders of the fuzz harnesses from real calculator files.

Usage: make_seeds.py OUT FOLDER...  (each FOLDER is searched for calculator
files; OUT/<harness>/ receives that harness's seeds, in its own input format).
"""
import os
import struct
import sys

MAX_FILE = 12 * 1024
PC_TYPES = {'2': 2, '3': 3, '5': 5, '6': 6}
BACKUP_TYPES = {2: 0x0F, 3: 0x13, 5: 0x1D, 6: 0x1D}


def packet(machine, command, data=None):
    out = bytes([machine, command])
    if data is None:
        return out + b'\0\0'
    return out + struct.pack('<H', len(data)) + data + struct.pack('<H', sum(data) & 0xFFFF)


def ti8x_entries(image):
    """(header, [data parts]) of each entry of a TI-82/83/85/86 file."""
    if len(image) < 57 or not image.startswith(b'**TI8'):
        return []
    end = min(len(image) - 2, 55 + struct.unpack_from('<H', image, 53)[0])
    backup = BACKUP_TYPES.get(PC_TYPES.get(chr(image[5]), 3))
    at, entries = 55, []
    while at + 2 <= end:
        hlen = struct.unpack_from('<H', image, at)[0]
        header = image[at + 2:at + 2 + hlen]
        at += 2 + hlen
        parts = []
        for _ in range(3 if len(header) > 2 and header[2] == backup else 1):
            if at + 2 > end:
                break
            size = struct.unpack_from('<H', image, at)[0]
            parts.append(image[at + 2:at + 2 + size])
            at += 2 + size
        if not parts:
            break
        entries.append((header, parts))
    return entries


def calc_stream(machine, entries):
    """What a calculator sends while giving away these variables."""
    out = b''
    for header, parts in entries:
        out += packet(machine, 0x06, header) + packet(machine, 0x56)
        for part in parts:
            out += packet(machine, 0x15, part)
    return out + packet(machine, 0x92)


def ti89_stream(machine, name, kind, payload):
    header = struct.pack('<I', len(payload) + 2) + bytes([kind, len(name)]) + name + b'\0'
    return calc_stream(machine, [(header, [b'\0\0\0\0' + payload])])


def calculator_files(folders):
    for folder in folders:
        for root, _, names in os.walk(folder):
            for n in sorted(names):
                path = os.path.join(root, n)
                if n.lower().endswith(('.md', '.cpp', '.h', '.txt')):
                    continue
                if os.path.getsize(path) <= MAX_FILE:
                    with open(path, 'rb') as f:
                        yield n, f.read()


def write(out, harness, name, data):
    folder = os.path.join(out, harness)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def message(number, sender=b'', atom=b'', wparam=0, lparam=0, magic=0x4D53444C):
    return struct.pack('<IIQQ32s32s', magic, number, wparam, lparam, sender, atom)


def others(out):
    """Seeds of the harnesses whose input is no calculator file."""
    hello, bye, send, on, off = 1125, 1126, 1144, 1134, 1135
    for target in (0, 1):
        for i, records in enumerate((
                [message(hello, b'TEmuWnd')],
                [message(send, b'TEmuWnd', b'Emulator Link 0', lparam=0xC000)],
                [message(hello, b'TTranDlg-4242'), message(send, b'x', b'Virtual Link 0')],
                [message(on, b'TEmuWnd'), message(off, b'TEmuWnd'), message(bye, b'TEmuWnd')],
                [message(7, b'../../etc', b'/dev/shm/x'), message(send, b'', b'..')],
                [message(hello, b'TEmuWnd', magic=0x5253444C)])):
            write(out, 'messages', 'm%d-%d' % (target, i),
                  bytes([target]) + b''.join(b'\0' + r for r in records))
    # ring: which end, then steps (index writes, bytes, the four operations).
    for end in (0, 1, 2):
        write(out, 'ring', 'ring-%d' % end, bytes([end]) + bytes([
            1, 5, 0, 0, 0, 2, 0, 0x83, 3, 4, 5, 0x56, 6, 0x56, 7, 0, 0xFF, 0xFF, 0xFF, 0xFF,
            4, 3, 0xFF, 0, 0, 0, 6, 1, 5]))
    # A 1-bit BMP of 16 x 2, bottom-up, as the simulated calculator reads its screen.
    pixels = b'\xf0\x0f\x00\x00\x0f\xf0\x00\x00'
    info = struct.pack('<IiiHHIIiiII', 40, 16, 2, 1, 1, 0, len(pixels), 2835, 2835, 2, 0)
    palette = b'\x00\x00\x00\x00\xff\xff\xff\x00'
    head = struct.pack('<2sIHHI', b'BM', 14 + 40 + 8 + len(pixels), 0, 0, 14 + 40 + 8)
    write(out, 'files', 'screen.bmp', b'\x00' + head + info + palette + pixels)
    write(out, 'settings', 'settings.reg',
          b'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Quarrendale\\Lodestrum 3.0]\r\n'
          b'"Start Directory"="/home/a \\"b\\"\\n"\r\n"Link Port"=dword:00000002\r\n')


def main():
    out, folders = sys.argv[1], sys.argv[2:]
    seen = 0
    for name, image in calculator_files(folders):
        seen += 1
        tib = name.lower().endswith('.tib')
        # send_file: flags, reply pattern and type, then the file image.
        for flags, pattern in ((0x10, 0x00), (0x1F, 0x08), (0x30, 0x50), (0x14, 0x18)):
            write(out, 'send_file', '%s-%02x%02x' % (name, flags, pattern),
                  bytes([flags | (0x80 if tib else 0), pattern]) + image)
        write(out, 'files', name, bytes([0x03]) + image)
        # names: the stored names, as a calculator would announce them.
        for i, (header, _) in enumerate(ti8x_entries(image)):
            write(out, 'names', '%s-%d' % (name, i), bytes([image[6] & 0x0F, 8]) + header)
        entries = ti8x_entries(image)
        if entries:
            machine = 0x80 + PC_TYPES.get(chr(image[5]), 3)
            stream = calc_stream(machine, entries)
            # 0x40: the save dialog answers, as a backup needs.
            for flags in (0x20, 0x21, 0x61, 0x24, 0x60, 0x64):
                write(out, 'receive', '%s-%02x' % (name, flags), bytes([flags]) + stream)
    # TI-89/92 variables, made up: the files' own layout is not needed here.
    for machine, flags in ((0x89, 0xA0), (0x88, 0xA1), (0x98, 0x90)):
        for kind, nm in ((0x0C, b'str'), (0x12, b'main\\prog'), (0x21, b'x' * 8)):
            write(out, 'receive', 'ti89-%02x-%02x-%s' % (machine, flags, kind),
                  bytes([flags]) + ti89_stream(machine, nm, kind, b'\x2d\x00hello\x00'))
    # Screen images: ACK, then a DATA packet of the display's size.
    for machine, size, flags in ((0x83, 768, 0x22), (0x86, 1024, 0x62), (0x89, 3840, 0xA2),
                                 (0x89, 3840, 0xAA)):
        write(out, 'receive', 'screen-%02x-%02x' % (machine, flags),
              bytes([flags]) + packet(machine, 0x56) + packet(machine, 0x15, bytes(size)))
    others(out)
    if seen == 0:
        sys.exit('make_seeds.py: no calculator files in ' + ' '.join(folders))


if __name__ == '__main__':
    main()
