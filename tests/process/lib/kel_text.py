"""Kel source text for the process tests that write Kel cases from Python."""


def kel_string(t):
    """A Kel string literal of exactly these characters."""
    out = ['"']
    for c in t:
        code = ord(c)
        if c == '"':
            out.append('^"')
        elif c == '^':
            out.append('^^')
        elif code < 0x20 or code == 0x7f or code > 0x7e:
            out.append('^(%X)' % code)
        else:
            out.append(c)
    out.append('"')
    return ''.join(out)
