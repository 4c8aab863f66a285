"""The Quorvanta logo mark: a ring "Q" whose tail continues one of six radial strokes.

One geometry, two outputs: the SVG the editor's top strip draws, and a raster version for the
badge printed on the pedal. Coordinates are in the 256 x 256 SVG user space.
"""
import math

C = 128.0                  # centre
R_OUT, R_IN = 112.0, 88.0  # ring
RAY_R0, RAY_R1 = 30.0, 74.0
RAY_W0, RAY_W1 = 4.0, 11.0  # half widths at the inner and outer end
TAIL_R0, TAIL_R1 = 74.0, 126.0
TAIL_W0, TAIL_W1 = 11.0, 15.0
TAIL_DEG = 45.0            # lower right, SVG y points down
RAY_DEGS = [TAIL_DEG + 60.0 * k for k in range(6)]


def _pt(r, deg, side=0.0):
    """point at radius r along deg, pushed sideways by `side` (perpendicular, clockwise positive)"""
    a = math.radians(deg)
    return (C + r * math.cos(a) - side * math.sin(a), C + r * math.sin(a) + side * math.cos(a))


def _f(v):
    s = "%.2f" % v
    return s.rstrip("0").rstrip(".") if "." in s else s


def _xy(p):
    return f"{_f(p[0])},{_f(p[1])}"


def _ray_corners(deg):
    return (_pt(RAY_R0, deg, -RAY_W0), _pt(RAY_R1, deg, -RAY_W1),
            _pt(RAY_R1, deg, RAY_W1), _pt(RAY_R0, deg, RAY_W0))


def _tail():
    return [_pt(TAIL_R0, TAIL_DEG, -TAIL_W0), _pt(TAIL_R1, TAIL_DEG, -TAIL_W1),
            _pt(TAIL_R1, TAIL_DEG, TAIL_W1), _pt(TAIL_R0, TAIL_DEG, TAIL_W0)]


def svg_text():
    """SVG 1.1 document: seven paths (ring, six strokes) and one polygon (the tail), CRLF"""
    ring = (f"M{_f(C + R_OUT)},{_f(C)} A{_f(R_OUT)},{_f(R_OUT)} 0 1,1 {_f(C - R_OUT)},{_f(C)} "
            f"A{_f(R_OUT)},{_f(R_OUT)} 0 1,1 {_f(C + R_OUT)},{_f(C)} Z "
            f"M{_f(C + R_IN)},{_f(C)} A{_f(R_IN)},{_f(R_IN)} 0 1,0 {_f(C - R_IN)},{_f(C)} "
            f"A{_f(R_IN)},{_f(R_IN)} 0 1,0 {_f(C + R_IN)},{_f(C)} Z")
    lines = ['<?xml version="1.0" encoding="UTF-8" standalone="no"?>',
             '<!DOCTYPE svg PUBLIC "-//W3C//DTD SVG 1.1//EN" '
             '"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd">',
             '<svg xmlns="http://www.w3.org/2000/svg" version="1.1" width="256px" height="256px" '
             'viewBox="0 0 256 256">',
             '  <title>Quorvanta</title>',
             f'  <path fill="#FFFFFF" fill-rule="evenodd" d="{ring}"/>']
    for deg in RAY_DEGS:
        a, b, c, d = _ray_corners(deg)
        # the outer end is rounded: an arc of the ray's outer half width
        lines.append(f'  <path fill="#FFFFFF" d="M{_xy(a)} L{_xy(b)} '
                     f'A{_f(RAY_W1)},{_f(RAY_W1)} 0 0,1 {_xy(c)} L{_xy(d)} Z"/>')
    pts = " ".join(_xy(p) for p in _tail())
    lines.append(f'  <polygon fill="#FFFFFF" points="{pts}"/>')
    lines += ['</svg>', '']
    return "\r\n".join(lines)


def raster_polygons(x0, y0, size, steps=96):
    """the mark as filled polygons for Pillow, placed in the square (x0, y0, size).
    Returns (fills, holes, fills_after): draw fills, then holes, then fills_after."""
    s = size / 256.0
    T = lambda p: (x0 + p[0] * s, y0 + p[1] * s)
    circ = lambda r: [T((C + r * math.cos(t), C + r * math.sin(t)))
                      for t in (2 * math.pi * k / steps for k in range(steps))]
    rays = []
    for deg in RAY_DEGS:
        a, b, c, d = _ray_corners(deg)
        cap = [_pt(RAY_R1 + RAY_W1 * math.sin(math.radians(t)), deg, -RAY_W1 * math.cos(math.radians(t)))
               for t in range(0, 181, 15)]
        rays.append([T(p) for p in [a] + cap + [d]])
    return [circ(R_OUT)], [circ(R_IN)], rays + [[T(p) for p in _tail()]]


if __name__ == "__main__":
    import sys
    open(sys.argv[1] if len(sys.argv) > 1 else "logo.svg", "w", encoding="utf-8", newline="").write(svg_text())
