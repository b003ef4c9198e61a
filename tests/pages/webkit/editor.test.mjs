// The SQL editor in WebKitGTK, the window's own engine: it loads, takes its text through
// `value`, and completes a spaced column of the data folder's files, quoted.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { missingWebKit, withWebKit } from './driver.mjs';

test('the editor loads and completes a spaced column in WebKitGTK', { skip: missingWebKit }, async () => {
  await withWebKit({ 'f.csv': '"Airport Name",n\nOslo,1\n' }, async ({ js, until }) => {
    await until("return (document.getElementById('bucketOut') || {}).textContent?.includes('f.csv')");
    assert.equal(await js("return document.getElementById('queryInput').closest('.cm-editor') !== null"), true);
    await js("document.getElementById('queryInput').value = 'SELECT 1'");
    assert.equal(await js("return document.getElementById('queryInput').value"), 'SELECT 1');
    // CSV files, then typing as the platform's input does it.
    await js("document.getElementById('formatSwitch').dispatchEvent(new MouseEvent('click', { bubbles: true }))");
    await js("const e = document.getElementById('queryInput'); e.value = ''; e.focus(); document.execCommand('insertText', false, 'SELECT Air');");
    await until("return [...document.querySelectorAll('.cm-tooltip-autocomplete .cm-completionLabel')].some((l) => l.textContent === 'Airport Name')");
    await js("document.getElementById('queryInput').dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter', keyCode: 13, bubbles: true }))");
    await until("return document.getElementById('queryInput').value === 'SELECT \"Airport Name\"'");
  });
});
