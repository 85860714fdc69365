// CSV files of what the console shows: builds the text and hands it to the browser as a
// download. Called by the history and experiment panels on the page's thread.

/** Text of a CSV file: a header row and data rows (numbers and plain texts). */
export function csvText(header, rows) {
  const cell = (v) => (typeof v === 'string' && /[",\n]/.test(v) ? `"${v.replaceAll('"', '""')}"` : String(v));
  const lines = [header.map(cell).join(',')];
  for (const row of rows) lines.push(row.map(cell).join(','));
  return lines.join('\n') + '\n';
}

/** Offers `text` as a file named `name`. */
export function download(name, text) {
  const url = URL.createObjectURL(new Blob([text], { type: 'text/csv' }));
  const a = document.createElement('a');
  a.href = url;
  a.download = name;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

/** Seconds since 1970 as local "YYYY-MM-DD hh:mm:ss". */
export function localTime(seconds) {
  const d = new Date(seconds * 1000);
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())} ${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}`;
}
