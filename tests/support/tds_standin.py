#!/usr/bin/env python3
"""A SQL Server stand-in for the test suite.

Speaks TDS 7.4 on 127.0.0.1 (or ::1) to the real FreeTDS ODBC driver and
serves a SQLite database file as a SQL Server database: the declared column
types choose SQL Server's wire types, errors come as SQL Server sends them,
and switches produce the faults a real server produces. Logins are decoded
as SQL Server decodes them and may be limited to one user, password and
database. It prints its port on the first line of standard output and ends
when standard input closes, so that it never outlives the test that started
it.

Python's standard library only; SQLite through ctypes because the sqlite3
module does not give a statement's declared column types.
"""

import argparse
import ctypes
import ctypes.util
import datetime
import decimal
import json
import os
import random
import re
import select
import socket
import struct
import sys
import threading
import uuid

# ---------------------------------------------------------------------------
# SQLite through its C API

_lib = ctypes.CDLL(ctypes.util.find_library("sqlite3") or "libsqlite3.so.0")
_vp, _cp, _int = ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int
for _name, _res, _args in [
    ("sqlite3_open_v2", _int, [_cp, ctypes.POINTER(_vp), _int, _cp]),
    ("sqlite3_close_v2", _int, [_vp]),
    ("sqlite3_busy_timeout", _int, [_vp, _int]),
    ("sqlite3_prepare_v2", _int, [_vp, _vp, _int, ctypes.POINTER(_vp), ctypes.POINTER(_vp)]),
    ("sqlite3_step", _int, [_vp]),
    ("sqlite3_finalize", _int, [_vp]),
    ("sqlite3_errmsg", _cp, [_vp]),
    ("sqlite3_changes", _int, [_vp]),
    ("sqlite3_column_count", _int, [_vp]),
    ("sqlite3_column_name", _cp, [_vp, _int]),
    ("sqlite3_column_decltype", _cp, [_vp, _int]),
    ("sqlite3_column_type", _int, [_vp, _int]),
    ("sqlite3_column_int64", ctypes.c_int64, [_vp, _int]),
    ("sqlite3_column_double", ctypes.c_double, [_vp, _int]),
    ("sqlite3_column_blob", _vp, [_vp, _int]),
    ("sqlite3_column_text", _vp, [_vp, _int]),
    ("sqlite3_column_bytes", _int, [_vp, _int]),
]:
    getattr(_lib, _name).restype = _res
    getattr(_lib, _name).argtypes = _args

SQLITE_ROW, SQLITE_DONE = 100, 101


class SqlError(Exception):
    """An error as SQL Server reports it."""

    def __init__(self, number, message, severity=16, state=1):
        super().__init__(message)
        self.number, self.message, self.severity, self.state = number, message, severity, state


def error_from_sqlite(message):
    m = re.match(r"no such table: (?:\w+\.)?(.+)", message)
    if m:
        return SqlError(208, f"Invalid object name '{m.group(1)}'.")
    m = re.match(r"no such column: (?:.*\.)?(.+)", message)
    if m:
        return SqlError(207, f"Invalid column name '{m.group(1)}'.")
    return SqlError(102, f"Incorrect syntax: {message}.", 15)


class Database:
    def __init__(self, path):
        self.db = _vp()
        flags = 0x2 | 0x4 | 0x10000  # read-write, create, no mutex (one per connection)
        if _lib.sqlite3_open_v2(path.encode(), ctypes.byref(self.db), flags, None):
            raise SqlError(4060, f"Cannot open database requested by the login. {path}", 11)
        _lib.sqlite3_busy_timeout(self.db, 10000)

    def close(self):
        _lib.sqlite3_close_v2(self.db)

    def statements(self, sql):
        """Yields (column names, declared types, row iterator) per statement;
        names is empty for a statement without a result."""
        data = ctypes.create_string_buffer(sql.encode())
        start = ctypes.addressof(data)
        at, end = start, start + len(data.value)
        while at < end:
            stmt, tail = _vp(), _vp()
            if _lib.sqlite3_prepare_v2(self.db, at, end - at, ctypes.byref(stmt),
                                       ctypes.byref(tail)):
                raise error_from_sqlite(_lib.sqlite3_errmsg(self.db).decode())
            at = tail.value or end
            if not stmt.value:
                continue  # only white space or a comment
            try:
                count = _lib.sqlite3_column_count(stmt)
                names = [_lib.sqlite3_column_name(stmt, i).decode() for i in range(count)]
                decls = [(_lib.sqlite3_column_decltype(stmt, i) or b"").decode()
                         for i in range(count)]
                yield names, decls, self._rows(stmt, count)
            finally:
                _lib.sqlite3_finalize(stmt)

    def _rows(self, stmt, count):
        while True:
            rc = _lib.sqlite3_step(stmt)
            if rc == SQLITE_DONE:
                return
            if rc != SQLITE_ROW:
                raise error_from_sqlite(_lib.sqlite3_errmsg(self.db).decode())
            yield [self._value(stmt, i) for i in range(count)]

    @staticmethod
    def _value(stmt, i):
        kind = _lib.sqlite3_column_type(stmt, i)
        if kind == 1:
            return _lib.sqlite3_column_int64(stmt, i)
        if kind == 2:
            return _lib.sqlite3_column_double(stmt, i)
        if kind == 5:
            return None
        getter = _lib.sqlite3_column_blob if kind == 4 else _lib.sqlite3_column_text
        ptr = getter(stmt, i)
        data = ctypes.string_at(ptr, _lib.sqlite3_column_bytes(stmt, i)) if ptr else b""
        return data if kind == 4 else data.decode("utf-8", "replace")

    def names(self):
        """Table and column names of the schema."""
        tables, columns = set(), set()
        for _, _, rows in self.statements("SELECT name FROM sqlite_master WHERE type = 'table'"):
            tables.update(r[0] for r in rows)
        for t in tables:
            q = "SELECT name FROM pragma_table_info('" + t.replace("'", "''") + "')"
            for _, _, rows in self.statements(q):
                columns.update(r[0] for r in rows)
        return tables, columns


# ---------------------------------------------------------------------------
# T-SQL to SQLite

_LITERAL = re.compile(r"N?'(?:[^']|'')*'|\[(?:[^\]]|\]\])*\]|\"(?:[^\"]|\"\")*\"", re.S)
_CONVERT_103 = re.compile(
    r"CONVERT\s*\(\s*DATETIME\s*,\s*'(\d{1,2})/(\d{1,2})/(\d{4})'\s*,\s*103\s*\)", re.I)
_DROP_IF = re.compile(
    r"IF\s+OBJECT_ID\s*\(\s*'[^']*'\s*(?:,\s*'\w+'\s*)?\)\s+IS\s+NOT\s+NULL\s+DROP\s+TABLE", re.I)
_NO_OP = re.compile(r"\s*(?:SET|USE)\s[^;\n]*;?", re.I)
_TOP = re.compile(r"^(\s*SELECT\s+(?:DISTINCT\s+)?)TOP\s*\(?\s*(\d+)\s*\)?\s*", re.I)
_ISO_DATE_T = re.compile(r"'(\d{4}-\d\d-\d\d)T(\d\d:\d\d:\d\d(?:\.\d+)?)'")


def split_literals(sql):
    """(is_literal, text) pieces: string literals and quoted names apart from the rest."""
    pieces, at = [], 0
    for m in _LITERAL.finditer(sql):
        pieces.append((False, sql[at:m.start()]))
        pieces.append((True, m.group(0)))
        at = m.end()
    pieces.append((False, sql[at:]))
    return pieces


def translate(sql):
    """The SQLite text of a T-SQL batch, as far as the exporter and the sample script need."""
    sql = _CONVERT_103.sub(
        lambda m: "'%s-%02d-%02d 00:00:00'" % (m.group(3), int(m.group(2)), int(m.group(1))), sql)
    out = []
    for literal, text in split_literals(sql):
        if literal:
            if text.startswith("N'"):
                text = text[1:]
            # An ISO date with 'T' compares as a SQLite date text only with a space.
            text = _ISO_DATE_T.sub(r"'\1 \2'", text)
        else:
            text = re.sub(r"--[^\n]*", "", text)
            text = re.sub(r"\bdbo\s*\.\s*", "", text, flags=re.I)
            text = re.sub(r"\(\s*MAX\s*\)", "(-1)", text, flags=re.I)
        out.append(text)
    sql = "".join(out).replace("[dbo].", "")
    sql = _DROP_IF.sub("DROP TABLE IF EXISTS", sql)
    return sql


def split_statements(sql):
    """The statements of a translated batch."""
    parts, current = [], []
    for literal, text in split_literals(sql):
        if literal:
            current.append(text)
            continue
        for i, chunk in enumerate(text.split(";")):
            if i:
                parts.append("".join(current))
                current = []
            current.append(chunk)
    parts.append("".join(current))
    return [p for p in (s.strip() for s in parts) if p]


def with_top(sql):
    m = _TOP.match(sql)
    return sql if not m else m.group(1) + sql[m.end():] + " LIMIT " + m.group(2)


def check_case(sql, tables, columns):
    """A case-sensitive collation: a name that matches the schema only ignoring case is an error."""
    lower_tables = {t.lower() for t in tables}
    lower_columns = {c.lower() for c in columns}
    for literal, text in split_literals(sql):
        if literal and not text.startswith("["):
            continue
        for word in [text[1:-1]] if literal else re.findall(r"[A-Za-z_][\w]*", text):
            if word in tables or word in columns:
                continue
            if word.lower() in lower_tables:
                raise SqlError(208, f"Invalid object name '{word}'.")
            if word.lower() in lower_columns:
                raise SqlError(207, f"Invalid column name '{word}'.")


# ---------------------------------------------------------------------------
# Wire types (TDS type info and values)

COLLATION_CP1252 = bytes([0x09, 0x04, 0xD0, 0x00, 0x34])  # SQL_Latin1_General_CP1_CI_AS
PLP_CHUNK = 1000  # small, so that long values cross several chunks
EPOCH_1900 = datetime.datetime(1900, 1, 1)


def conversion_error(value, sql_type):
    return SqlError(245, f"Conversion failed when converting the nvarchar value '{value}' "
                         f"to data type {sql_type}.")


def as_int(value, sql_type):
    if isinstance(value, float) and value.is_integer():
        value = int(value)
    if isinstance(value, str) and re.fullmatch(r"\s*[-+]?\d+\s*", value):
        value = int(value)
    if not isinstance(value, int):
        raise conversion_error(value, sql_type)
    return value


def as_datetime(value):
    try:
        return datetime.datetime.fromisoformat(str(value).strip())
    except ValueError:
        raise SqlError(241, "Conversion failed when converting date and/or time from "
                            "character string.") from None


def since_midnight_us(dt):
    return ((dt.hour * 60 + dt.minute) * 60 + dt.second) * 1000000 + dt.microsecond


class IntN:
    def __init__(self, width, name):
        self.width, self.name = width, name

    def meta(self):
        return bytes([0x26, self.width])

    def encode(self, v):
        if v is None:
            return b"\x00"
        n = as_int(v, self.name)
        try:
            return bytes([self.width]) + n.to_bytes(self.width, "little", signed=self.width > 1)
        except OverflowError:
            raise SqlError(8115, f"Arithmetic overflow error converting expression to data type "
                                 f"{self.name}.") from None


class Bit:
    def meta(self):
        return b"\x68\x01"

    def encode(self, v):
        return b"\x00" if v is None else bytes([1, 1 if as_int(v, "bit") else 0])


class Float:
    def __init__(self, width):
        self.width = width

    def meta(self):
        return bytes([0x6D, self.width])

    def encode(self, v):
        if v is None:
            return b"\x00"
        try:
            v = float(v)
        except ValueError:
            raise conversion_error(v, "float") from None
        return bytes([self.width]) + struct.pack("<f" if self.width == 4 else "<d", v)


class DateTime:
    def meta(self):
        return b"\x6F\x08"

    def encode(self, v):
        if v is None:
            return b"\x00"
        dt = as_datetime(v)
        days = (dt.date() - EPOCH_1900.date()).days
        ticks = (since_midnight_us(dt) * 3 + 5000) // 10000  # 1/300 s, rounded as the server does
        return b"\x08" + struct.pack("<iI", days, ticks)


class DateTime2:
    def __init__(self, scale):
        self.scale = scale

    def meta(self):
        return bytes([0x2A, self.scale])

    def encode(self, v):
        if v is None:
            return b"\x00"
        dt = as_datetime(v)
        size = 3 if self.scale <= 2 else 4 if self.scale <= 4 else 5
        units = since_midnight_us(dt) * 10 ** self.scale // 1000000
        days = dt.date().toordinal() - 1
        return bytes([size + 3]) + units.to_bytes(size, "little") + days.to_bytes(3, "little")


class Decimal:
    def __init__(self, precision, scale):
        self.precision, self.scale = precision, scale
        self.size = 5 if precision <= 9 else 9 if precision <= 19 else 13 if precision <= 28 else 17

    def meta(self):
        return bytes([0x6A, self.size, self.precision, self.scale])

    def encode(self, v):
        if v is None:
            return b"\x00"
        try:
            d = decimal.Decimal(str(v)).scaleb(self.scale)
        except decimal.InvalidOperation:
            raise conversion_error(v, "numeric") from None
        n = int(d.to_integral_value(decimal.ROUND_HALF_UP))
        return bytes([self.size, 1 if n >= 0 else 0]) + abs(n).to_bytes(self.size - 1, "little")


class Guid:
    def meta(self):
        return b"\x24\x10"

    def encode(self, v):
        if v is None:
            return b"\x00"
        try:
            return b"\x10" + uuid.UUID(str(v)).bytes_le
        except ValueError:
            raise SqlError(8169, "Conversion failed when converting from a character string to "
                                 "uniqueidentifier.") from None


class Text:
    """NVARCHAR(n) / NVARCHAR(MAX), or VARCHAR in the code page of its collation."""

    def __init__(self, length, unicode):
        self.length, self.unicode = length, unicode  # length -1: MAX

    def meta(self):
        if self.length < 0:
            size = 0xFFFF
        else:
            size = self.length * 2 if self.unicode else self.length
        return bytes([0xE7 if self.unicode else 0xA7]) + struct.pack("<H", size) + COLLATION_CP1252

    def encode(self, v):
        data = None
        if v is not None:
            text = v if isinstance(v, str) else repr(v) if isinstance(v, float) else str(v)
            data = text.encode("utf-16-le") if self.unicode else text.encode("cp1252", "replace")
        if self.length >= 0:
            return b"\xff\xff" if data is None else struct.pack("<H", len(data)) + data
        if data is None:
            return b"\xff" * 8
        out = [struct.pack("<Q", len(data))]
        for at in range(0, len(data), PLP_CHUNK):
            chunk = data[at:at + PLP_CHUNK]
            out.append(struct.pack("<I", len(chunk)) + chunk)
        return b"".join(out) + b"\x00\x00\x00\x00"


def wire_type(decl, values):
    m = re.match(r"\s*(\w+)\s*(?:\(\s*(-?\d+)\s*(?:,\s*(\d+)\s*)?\))?", decl.upper())
    if not m:
        # An expression: typed by its values, as SQL Server types COUNT(*), MAX(int).
        present = [v for v in values if v is not None]
        if all(isinstance(v, int) for v in present):
            small = all(-2**31 <= v < 2**31 for v in present)
            return IntN(4, "int") if small else IntN(8, "bigint")
        if all(isinstance(v, (int, float)) for v in present):
            return Float(8)
        return Text(-1, True)
    name, a, b = m.group(1), m.group(2), m.group(3)
    size = int(a) if a is not None else None
    ints = {"BIGINT": (8, "bigint"), "INT": (4, "int"), "INTEGER": (4, "int"),
            "SMALLINT": (2, "smallint"), "TINYINT": (1, "tinyint")}
    if name in ints:
        return IntN(*ints[name])
    if name == "BIT":
        return Bit()
    if name == "REAL":
        return Float(4)
    if name in ("FLOAT", "DOUBLE"):
        return Float(8)
    if name == "DATETIME2":
        return DateTime2(7 if size is None else size)
    if name in ("DATETIME", "SMALLDATETIME", "DATE"):
        return DateTime()
    if name in ("DECIMAL", "NUMERIC"):
        return Decimal(18 if size is None else size, int(b or 0))
    if name == "UNIQUEIDENTIFIER":
        return Guid()
    if name in ("VARCHAR", "CHAR"):
        return Text(1 if size is None else size, False)
    if name in ("NVARCHAR", "NCHAR"):
        return Text(1 if size is None else size, True)
    return Text(-1, True)  # TEXT, CLOB and the rest of SQLite's names


# ---------------------------------------------------------------------------
# Tokens

def b_varchar(text):
    data = text.encode("utf-16-le")
    return bytes([len(text)]) + data


def us_varchar(text):
    data = text.encode("utf-16-le")
    return struct.pack("<H", len(data) // 2) + data


def token_done(status=0, count=0, command=0xC1):
    return struct.pack("<BHHQ", 0xFD, status, command, count)


DONE_MORE, DONE_ERROR, DONE_COUNT, DONE_ATTN = 0x1, 0x2, 0x10, 0x20


def token_message(error, info=False):
    body = (struct.pack("<iBB", error.number, error.state, error.severity) +
            us_varchar(error.message) + b_varchar("STANDIN") + b_varchar("") +
            struct.pack("<i", 1))
    return bytes([0xAB if info else 0xAA]) + struct.pack("<H", len(body)) + body


def token_envchange(kind, new, old):
    body = bytes([kind]) + new + old
    return b"\xE3" + struct.pack("<H", len(body)) + body


def token_colmetadata(names, types):
    out = [b"\x81", struct.pack("<H", len(names))]
    for name, t in zip(names, types):
        out.append(struct.pack("<IH", 0, 0x0001) + t.meta() + b_varchar(name))
    return b"".join(out)


ERROR_TEXTS = {
    1205: (13, 51, "Transaction (Process ID 52) was deadlocked on lock resources with another "
                   "process and has been chosen as the deadlock victim. Rerun the transaction."),
    8153: (10, 1, "Warning: Null value is eliminated by an aggregate or other SET operation."),
}


def server_message(number):
    severity, state, text = ERROR_TEXTS.get(number, (16, 1, f"Stand-in error {number}."))
    return SqlError(number, text, severity, state)


# ---------------------------------------------------------------------------
# LOGIN7

def login_password(data):
    """The password as the server reads it: each byte XORed with 0xA5, then its nibbles swapped."""
    plain = bytes((((b ^ 0xA5) << 4) & 0xF0) | ((b ^ 0xA5) >> 4) for b in data)
    return plain.decode("utf-16-le", "replace")


def decode_login7(data):
    """The fields of a LOGIN7 message that decide a login, texts in UCS-2 as sent."""
    def field(offset, decode=lambda b: b.decode("utf-16-le", "replace")):
        at, count = struct.unpack("<HH", data[offset:offset + 4])
        return decode(data[at:at + 2 * count])

    integrated = data[25] & 0x80 != 0  # fIntSecurity in OptionFlags2
    at, size = struct.unpack("<HH", data[78:82])
    sspi = data[at:at + size]
    kind = "SQL" if not integrated else "NTLM" if sspi.startswith(b"NTLMSSP\0") else "SSPI"
    return {"kind": kind, "user": field(40), "password": field(44, login_password),
            "app": field(48), "host": field(36), "database": field(68)}


# ---------------------------------------------------------------------------
# One client connection

class Dropped(Exception):
    pass


class Session:
    def __init__(self, sock, options):
        self.sock, self.options = sock, options
        self.packet_size = 4096
        self.out = bytearray()
        self.db = None
        self.rng = random.Random(options.seed)
        self.nocount = False

    # Packets
    def read_message(self):
        kind, data = None, bytearray()
        while True:
            header = self._read(8)
            if not header:
                return None, None
            kind, status, length = struct.unpack(">BBH", header[:4])
            data += self._read(length - 8)
            if status & 1:
                return kind, bytes(data)

    def _read(self, n):
        data = bytearray()
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                return b""
            data += chunk
        return bytes(data)

    def flush(self, final):
        """Sends the full packets of the buffer, and the rest too when final.
        True when the client sent an attention meanwhile: the rest of the
        buffer (whole tokens: the client reads on to the acknowledgement)
        goes out with the acknowledgement, and nothing more of the result."""
        room = self.packet_size - 8
        while len(self.out) > room or final:
            last = final and len(self.out) <= room
            chunk, self.out = self.out[:room], self.out[room:]
            self.sock.sendall(struct.pack(">BBHHBB", 4, 1 if last else 0, len(chunk) + 8, 0, 1, 0)
                              + chunk)
            if last:
                return False
            if select.select([self.sock], [], [], 0)[0]:
                kind, _ = self.read_message()
                if kind == 6:
                    self.out += token_done(DONE_ATTN)
                    self.flush(True)
                    return True
        return False

    # Conversation
    def run(self):
        try:
            while True:
                kind, data = self.read_message()
                if kind is None:
                    return
                if kind == 18:
                    self.prelogin()
                elif kind == 16:
                    self.login(data)
                elif kind == 1:
                    self.batch(data[struct.unpack("<I", data[:4])[0]:].decode("utf-16-le"))
                elif kind == 6:
                    self.out += token_done(DONE_ATTN)
                    self.flush(True)
                else:
                    self.out += token_message(SqlError(
                        8009, f"The stand-in does not handle TDS messages of type {kind}."))
                    self.out += token_done(DONE_ERROR)
                    self.flush(True)
        except (Dropped, ConnectionError):
            return
        finally:
            if self.db:
                self.db.close()
            self.sock.close()

    def prelogin(self):
        # VERSION, ENCRYPTION (not supported), INSTOPT, THREADID, MARS; then the terminator.
        options = [(0, bytes([16, 0, 0x10, 0, 0, 0])), (1, b"\x02"), (2, b"\x00"),
                   (3, b"\x00\x00\x00\x00"), (4, b"\x00")]
        offset = len(options) * 5 + 1
        head, body = bytearray(), bytearray()
        for token, value in options:
            head += struct.pack(">BHH", token, offset + len(body), len(value))
            body += value
        self.out += head + b"\xff" + body
        self.flush(True)

    def login(self, data):
        self.packet_size = max(512, min(struct.unpack("<I", data[8:12])[0], 32767))
        login = decode_login7(data)
        o = self.options
        if o.login_log:
            with open(o.login_log, "a", encoding="utf-8") as log:
                log.write(json.dumps({k: login[k] for k in ("kind", "user", "database", "app",
                                                            "host")}, ensure_ascii=False) + "\n")
        error = None
        if login["kind"] != "SQL":
            # Integrated logins need a domain: none here, as on a server that trusts none.
            error = SqlError(18452, "Login failed. The login is from an untrusted domain and "
                                    "cannot be used with Integrated authentication.", 14)
        elif o.user is not None and (login["user"].casefold() != o.user.casefold() or
                                     login["password"] != (o.password or "")):
            error = SqlError(18456, f"Login failed for user '{login['user']}'.", 14)
        elif o.database is not None and login["database"] and \
                login["database"].casefold() != o.database.casefold():
            error = SqlError(4060, f"Cannot open database \"{login['database']}\" requested by "
                                   f"the login. The login failed.", 11)
        if error is None:
            try:
                self.db = Database(o.db)
            except SqlError as e:
                error = e
        if error is not None:
            self.out += token_message(error) + token_done(DONE_ERROR)
            self.flush(True)
            return
        database = login["database"] or "master"
        self.out += token_envchange(1, b_varchar(database), b_varchar("master"))
        self.out += token_envchange(7, bytes([5]) + COLLATION_CP1252, b"\x00")
        size = str(self.packet_size)
        self.out += token_envchange(4, b_varchar(size), b_varchar(size))
        name = "Microsoft SQL Server".encode("utf-16-le")
        ack = b"\x01" + bytes([0x74, 0, 0, 4]) + bytes([20]) + name + bytes([16, 0, 0x10, 0])
        self.out += b"\xAD" + struct.pack("<H", len(ack)) + ack
        self.out += token_done()
        self.flush(True)

    def batch(self, sql):
        try:
            statements = split_statements(translate(sql))
            if self.options.case_sensitive:
                tables, columns = self.db.names()
                for s in statements:
                    check_case(s, tables, columns)
            for i, statement in enumerate(statements):
                more = DONE_MORE if i + 1 < len(statements) else 0
                if _NO_OP.fullmatch(statement):
                    # Session settings change nothing here but NOCOUNT.
                    m = re.fullmatch(r"\s*SET\s+NOCOUNT\s+(ON|OFF)\s*;?", statement, re.I)
                    self.nocount = m.group(1).upper() == "ON" if m else self.nocount
                    self.out += token_done(more, 0, 0xC7)
                elif self.statement(with_top(statement), more):
                    return
        except SqlError as e:
            self.out += token_message(e) + token_done(DONE_ERROR)
            self.flush(True)
            return
        if not statements:
            self.out += token_done()
        self.flush(True)

    def statement(self, sql, more):
        """Sends one statement's result; True when an attention or an error ended the batch."""
        for names, decls, rows in self.db.statements(sql):
            if not names:
                for _ in rows:
                    pass
                counted = 0 if self.nocount else DONE_COUNT
                self.out += token_done(counted | more, _lib.sqlite3_changes(self.db.db), 0xC3)
                continue
            rows = list(rows)
            if self.options.shuffle and not re.search(r"\bORDER\s+BY\b", sql, re.I):
                self.rng.shuffle(rows)
            types = [wire_type(d, [r[i] for r in rows]) for i, d in enumerate(decls)]
            self.out += token_colmetadata(names, types)
            faulty = re.search(self.options.fault_query, sql) is not None
            for n, row in enumerate(rows):
                if faulty and self.fault(n):
                    return True
                try:
                    encoded = b"".join(t.encode(v) for t, v in zip(types, row))
                except SqlError as e:
                    self.out += token_message(e) + token_done(DONE_ERROR)
                    self.flush(True)
                    return True
                self.out += b"\xD1" + encoded
                if len(self.out) >= self.packet_size and self.flush(False):
                    return True
            if faulty and self.fault(len(rows)):
                return True
            self.out += token_done(DONE_COUNT | more, len(rows))
        return False

    def fault(self, sent):
        """The fault switches, before the row after `sent` rows (or the end)."""
        o = self.options
        if o.warning_after == sent:
            self.out += token_message(server_message(8153), info=True)
        if o.error_after == sent:
            self.out += token_message(server_message(o.error)) + token_done(DONE_ERROR)
            self.flush(True)
            return True
        if o.drop_after == sent:
            self.flush(False)
            if self.out:  # the rows of the last partial packet, never completed
                header = struct.pack(">BBHHBB", 4, 0, len(self.out) + 8, 0, 1, 0)
                self.sock.sendall(header + self.out)
            self.sock.shutdown(socket.SHUT_RDWR)
            raise Dropped()
        return False


# ---------------------------------------------------------------------------

def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--db", required=True, help="the SQLite database file served")
    p.add_argument("--host", default="127.0.0.1", help="the loopback address listened on "
                                                       "(127.0.0.1 or ::1)")
    p.add_argument("--port", type=int, default=0, help="0: any free port (printed)")
    p.add_argument("--fault-query", default="",
                   help="the faults below apply to results of queries matching this pattern")
    p.add_argument("--error", type=int, default=1205, help="the error number of --error-after")
    p.add_argument("--error-after", type=int, default=-1, help="send the error after N rows")
    p.add_argument("--drop-after", type=int, default=-1, help="drop the connection after N rows")
    p.add_argument("--warning-after", type=int, default=-1, help="send a warning after N rows")
    p.add_argument("--shuffle", action="store_true", help="random row order without ORDER BY")
    p.add_argument("--seed", type=int, default=1, help="seed of --shuffle")
    p.add_argument("--case-sensitive", action="store_true",
                   help="names must match the schema's case (errors 207/208)")
    p.add_argument("--user", help="the one login accepted (any login when not given)")
    p.add_argument("--password", help="its password")
    p.add_argument("--database", help="the one database name accepted (any when not given)")
    p.add_argument("--login-log", help="appends one JSON line per login: kind (SQL, NTLM, SSPI), "
                                       "user, database, app, host; never the password")
    p.add_argument("--lifetime", type=float, default=900, help="exit after this many seconds")
    options = p.parse_args(argv)

    family = socket.AF_INET6 if ":" in options.host else socket.AF_INET
    server = socket.create_server((options.host, options.port), family=family)
    print(server.getsockname()[1], flush=True)

    def watch_stdin():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    threading.Timer(options.lifetime, lambda: os._exit(3)).start()
    while True:
        client, _ = server.accept()
        client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=Session(client, options).run, daemon=True).start()


if __name__ == "__main__":
    main()
