// Every call to the native side goes through bridgeCall, which answers with one of
//   { value }            the reply,
//   { error, reply? }    a text for the user (`reply` is the native error object, when there is one),
//   { cancelled: true }  a stopped query or a cancelled dialog.
// It never rejects.

function bridgeErrorText(e) {
  return String((e && e.message) || e || 'unknown error');
}

export async function bridgeCall(name, ...args) {
  if (typeof window[name] !== 'function') return { error: name + ' is not available' };
  let reply;
  try {
    reply = await window[name](...args);
  } catch (e) {
    return { error: bridgeErrorText(e) };
  }
  if (reply && typeof reply === 'object' && !Array.isArray(reply)) {
    if (reply.cancelled === true) return { cancelled: true };
    // An empty error text is no error: the reply is passed on as it is.
    if (reply.error) return { error: String(reply.error), reply };
  }
  return { value: reply };
}
