// The line break a text is written with. Pure functions.

// The text's only line break, the most common one when it mixes them, "\n" when it has none
// (ties go to "\n", then to "\r\n").
export function lineBreakOf(text) {
  let crlf = 0;
  let cr = 0;
  for (let at = text.indexOf('\r'); at !== -1; at = text.indexOf('\r', at + 1)) {
    if (text.charCodeAt(at + 1) === 10)
      crlf += 1;
    else
      cr += 1;
  }
  const lf = text.split('\n').length - 1 - crlf;
  if (crlf > lf && crlf >= cr) return '\r\n';
  if (cr > lf && cr > crlf) return '\r';
  return '\n';
}
