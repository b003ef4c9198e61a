// Numbers and dates shown on both pages follow the user's locale. WebKit reports the POSIX
// locale of LANG=C.UTF-8 as the language "C", which would show 3000000 ungrouped: such a
// locale, or one the browser cannot use, reads as en-US.

const NUMBER_FALLBACK_LOCALE = 'en-US';

export function displayLocale(language) {
  const tag = String(language || '').split('.')[0];
  if (tag === '' || /^(C|POSIX)$/i.test(tag)) return NUMBER_FALLBACK_LOCALE;
  try {
    return Intl.NumberFormat.supportedLocalesOf([tag.replace(/_/g, '-')])[0] || NUMBER_FALLBACK_LOCALE;
  } catch (e) {
    return NUMBER_FALLBACK_LOCALE;
  }
}

export const DISPLAY_LOCALE = displayLocale(typeof navigator === 'undefined' ? '' : navigator.language);
// One formatter for every number: toLocaleString builds a new one on each call in some engines.
export const NUMBER_FORMAT = new Intl.NumberFormat(DISPLAY_LOCALE);

export function formatNumber(v) {
  return NUMBER_FORMAT.format(v);
}

const FIXED_FORMATS = new Map();

// A number with exactly `digits` fraction digits, in the same locale: sizes, shares.
export function formatFixed(v, digits) {
  if (!FIXED_FORMATS.has(digits)) {
    FIXED_FORMATS.set(digits, new Intl.NumberFormat(DISPLAY_LOCALE, { minimumFractionDigits: digits, maximumFractionDigits: digits }));
  }
  return FIXED_FORMATS.get(digits).format(v);
}

// How long something took, in whole milliseconds.
export function formatMs(ms) {
  return formatNumber(Math.round(ms)) + ' ms';
}

// "1 row", "3,000,000 rows".
export function rowsText(n) {
  return formatNumber(n) + (n === 1 ? ' row' : ' rows');
}
