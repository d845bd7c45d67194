# Draws the map of the demo's sites as SVG. Input lines:
#   site NAME             one per site, in order
#   pair I J DISTANCE ASKS  one per two sites (indexes from 0); ASKS is 1 when
#                         one of them sends queries to the other
# The sites stand on a ring, north at the top for the sample three; each
# pair is joined by a line with its distance, solid where queries go and
# dashed where the sites are too far apart.
function esc(s) {
  gsub(/&/, "\\&amp;", s); gsub(/</, "\\&lt;", s); gsub(/>/, "\\&gt;", s); gsub(/"/, "\\&quot;", s)
  return s
}
BEGIN { n = 0; m = 0 }
$1 == "site" { name[n++] = $2; next }
$1 == "pair" { pi[m] = $2; pj[m] = $3; pd[m] = $4; pa[m] = $5; m++; next }
END {
  w = 520; h = 340; cx = w / 2; cy = 160; rx = 190; ry = 110
  pi2 = atan2(0, -1)
  for (k = 0; k < n; k++) {
    a = -pi2 / 2 + 2 * pi2 * k / n
    x[k] = n == 1 ? cx : cx + rx * cos(a)
    y[k] = n == 1 ? cy : cy + ry * sin(a)
  }
  printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" font-family=\"sans-serif\">\n", w, h, w, h
  printf "<title>Map of the sites</title>\n"
  printf "<rect width=\"%d\" height=\"%d\" fill=\"#f6f8fc\" stroke=\"#1c4f9c\"/>\n", w, h
  for (k = 0; k < m; k++) {
    i = pi[k]; j = pj[k]
    style = pa[k] ? "stroke=\"#1c4f9c\" stroke-width=\"3\"" : "stroke=\"#999\" stroke-width=\"2\" stroke-dasharray=\"6 5\""
    printf "<line x1=\"%.0f\" y1=\"%.0f\" x2=\"%.0f\" y2=\"%.0f\" %s/>\n", x[i], y[i], x[j], y[j], style
  }
  for (k = 0; k < m; k++) {
    i = pi[k]; j = pj[k]
    # Lines through the middle of the ring would share their midpoint: their
    # labels stand nearer to one end instead.
    t = (((x[i] + x[j]) / 2 - cx) ^ 2 + ((y[i] + y[j]) / 2 - cy) ^ 2 < 100) ? 0.3 : 0.5
    mx = x[i] + t * (x[j] - x[i]); my = y[i] + t * (y[j] - y[i])
    lw = 10 + 9 * length(pd[k])
    printf "<rect x=\"%.0f\" y=\"%.0f\" width=\"%d\" height=\"20\" rx=\"4\" fill=\"#fff\" stroke=\"#ccc\"/>\n", mx - lw / 2, my - 10, lw
    printf "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\" font-size=\"14\">%s</text>\n", mx, my + 5, esc(pd[k])
  }
  for (k = 0; k < n; k++) {
    label = name[k]
    if (length(label) > 18) label = substr(label, 1, 17) "\342\200\246"
    bw = 24 + 9 * length(label)
    if (length(name[k]) > 18) bw = 24 + 9 * 18
    printf "<rect x=\"%.0f\" y=\"%.0f\" width=\"%d\" height=\"34\" rx=\"17\" fill=\"#1c4f9c\"/>\n", x[k] - bw / 2, y[k] - 17, bw
    printf "<text x=\"%.0f\" y=\"%.0f\" text-anchor=\"middle\" font-size=\"16\" font-weight=\"bold\" fill=\"#fff\">%s</text>\n", x[k], y[k] + 6, esc(label)
  }
  printf "<text x=\"12\" y=\"%d\" font-size=\"13\" fill=\"#333\">Numbers are distances. Solid lines: queries go this way (closer</text>\n", h - 30
  printf "<text x=\"12\" y=\"%d\" font-size=\"13\" fill=\"#333\">than a distance threshold); dashed lines: too far apart to query.</text>\n", h - 12
  printf "</svg>\n"
}
