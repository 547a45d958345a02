"""Registry files for `reg import`, as the benchmark and the demo machine
write their uninstall entries for Wine."""

UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
UNINSTALL_ROOT = "HKEY_LOCAL_MACHINE\\" + UNINSTALL
USER_UNINSTALL_ROOT = "HKEY_CURRENT_USER\\" + UNINSTALL


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_value(name, kind, data):
    if kind == "sz":
        return "%s=%s" % (reg_string(name), reg_string(data))
    if kind == "dword":
        return "%s=dword:%08x" % (reg_string(name), data)
    if kind == "expand":
        raw = (data + "\0").encode("utf-16-le")
        return "%s=hex(2):%s" % (reg_string(name), ",".join("%02x" % b for b in raw))
    raise ValueError(kind)


def write_reg(keys, path, root=UNINSTALL_ROOT):
    """One view's entries, (key name, [(value name, kind, data)]), for
    `reg import FILE /reg:32` or `/reg:64`. The caller deletes an earlier
    machine's entries with `reg delete` first: a deletion inside the file is
    carried out in reg.exe's own view, whatever view the import was asked
    for. root: the machine's uninstall key, or USER_UNINSTALL_ROOT."""
    lines = ["Windows Registry Editor Version 5.00", "", "[%s]" % root, ""]
    for key, values in keys:
        lines.append("[%s\\%s]" % (root, key))
        lines += [reg_value(*value) for value in values]
        lines.append("")
    with open(path, "wb") as out:
        out.write(("\r\n".join(lines) + "\r\n").encode("utf-16"))  # with a byte-order mark
