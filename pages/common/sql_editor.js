// The SQL editor every place that takes SQL uses: CodeMirror with the engine's dialect, the
// page's colours, line numbers, bracket matching, history, search, comment toggling, completion
// from a source the caller hands in, {path-to-files} drawn as one token, and engine errors
// underlined in place. The element that takes the typing carries the caller's id and a `value`
// property reading and writing the whole text, as a text area's does.
import {
  autocompletion,
  acceptCompletion,
  closeBrackets,
  closeBracketsKeymap,
  closeCompletion,
  completionKeymap,
  completionStatus,
  startCompletion,
} from '@codemirror/autocomplete';
import { defaultKeymap, history, historyKeymap, indentWithTab, isolateHistory } from '@codemirror/commands';
import { bracketMatching, ensureSyntaxTree, HighlightStyle, indentOnInput, syntaxHighlighting, syntaxTree, syntaxTreeAvailable } from '@codemirror/language';
import { PostgreSQL, SQLDialect } from '@codemirror/lang-sql';
import { highlightSelectionMatches, searchKeymap } from '@codemirror/search';
import { Compartment, EditorSelection, EditorState, Prec, StateEffect, StateField } from '@codemirror/state';
import {
  Decoration,
  EditorView,
  highlightActiveLine,
  highlightActiveLineGutter,
  highlightSpecialChars,
  keymap,
  lineNumbers,
  MatchDecorator,
  placeholder as placeholderText,
  ViewPlugin,
  WidgetType,
} from '@codemirror/view';
import { tags } from '@lezer/highlight';
import { PATH_VARIABLE } from './sql.js';

// How far back from the cursor a statement is read for completion: the rules need the clause
// around the cursor, not a whole script of many megabytes.
export const COMPLETION_CONTEXT_CHARS = 20000;
// Time the parser may take to reach the cursor before a completion reads text instead.
const PARSE_BUDGET_MS = 5;
// A change of more than this many characters (a pasted or loaded script) is parsed at once, up to
// LARGE_CHANGE_PARSE_MS: otherwise the parser catches up a slice at a time during the keystrokes
// that follow, each of them then taking tens of milliseconds.
const LARGE_CHANGE_CHARS = 10000;
const LARGE_CHANGE_PARSE_MS = 300;

// Colours come from the page's theme variables, the dark palette standing in where a page
// defines none.
const color = (name, fallback) => 'var(--' + name + ', ' + fallback + ')';
const C = {
  base: color('base', '#1e1e2e'),
  surface: color('surface', '#313244'),
  border: color('border', '#45475a'),
  text: color('text', '#cdd6f4'),
  muted: color('muted', '#6c7086'),
  accent: color('accent', '#cba6f7'),
  secondary: color('secondary', '#89b4fa'),
  error: color('error', '#f38ba8'),
  success: color('success', '#a6e3a1'),
  warning: color('warning', '#fab387'),
  selection: color('selection', 'rgba(137, 180, 250, 0.28)'),
  activeLine: color('active-line', 'rgba(69, 71, 90, 0.35)'),
};

const editorTheme = EditorView.theme({
  '&': { color: C.text, backgroundColor: C.base, height: '100%', fontSize: '1.15rem' },
  '.cm-scroller': { fontFamily: 'monospace', lineHeight: '1.45', overflow: 'auto' },
  '.cm-content': { caretColor: C.accent, padding: '8px 0' },
  '&.cm-focused': { outline: 'none' },
  '.cm-content ::selection': { backgroundColor: C.selection },
  '.cm-gutters': { backgroundColor: C.base, color: C.muted, border: 'none', borderRight: '1px solid ' + C.border },
  '.cm-activeLine': { backgroundColor: C.activeLine },
  '.cm-activeLineGutter': { backgroundColor: C.activeLine, color: C.text },
  '.cm-matchingBracket, &.cm-focused .cm-matchingBracket': { backgroundColor: 'transparent', outline: '1px solid ' + C.accent },
  '.cm-nonmatchingBracket': { color: C.error },
  '.cm-selectionMatch': { backgroundColor: 'rgba(137, 180, 250, 0.15)' },
  '.cm-placeholder': { color: C.muted },
  '.cm-path-variable': {
    color: C.warning,
    backgroundColor: 'rgba(250, 179, 135, 0.12)',
    borderRadius: '4px',
    padding: '0 2px',
  },
  '.cm-query-error': { textDecoration: 'underline wavy ' + C.error, textDecorationSkipInk: 'none', textUnderlineOffset: '3px' },
  '.cm-specialChar': { color: C.error },
  '.cm-panels': { backgroundColor: C.surface, color: C.text },
  '.cm-panels.cm-panels-bottom': { borderTop: '1px solid ' + C.border },
  '.cm-search input, .cm-search button, .cm-search label': { fontSize: '0.85rem' },
  '.cm-textfield': { backgroundColor: C.base, color: C.text, border: '1px solid ' + C.border, borderRadius: '4px' },
  '.cm-button': { backgroundImage: 'none', backgroundColor: C.border, color: C.text, border: 'none', borderRadius: '4px' },
  '.cm-searchMatch': { backgroundColor: 'rgba(250, 179, 135, 0.3)' },
  '.cm-searchMatch.cm-searchMatch-selected': { backgroundColor: 'rgba(203, 166, 247, 0.45)' },
  '.cm-tooltip': { backgroundColor: C.surface, color: C.text, border: '1px solid ' + C.border, borderRadius: '6px' },
  '.cm-tooltip-autocomplete > ul': { fontFamily: 'monospace', maxHeight: '16em' },
  '.cm-tooltip-autocomplete > ul > li[aria-selected]': { backgroundColor: C.border, color: C.text },
  '.cm-completionDetail': { color: C.muted, fontStyle: 'normal', marginLeft: '1em' },
  '.cm-completionMatchedText': { textDecoration: 'none', color: C.accent },
  '.cm-completionInfo': { maxWidth: '28em', whiteSpace: 'pre-wrap' },
}, { dark: true });

const highlightStyle = HighlightStyle.define([
  { tag: tags.keyword, color: C.accent },
  { tag: [tags.typeName], color: color('type', '#f9e2af') },
  { tag: [tags.standard(tags.name)], color: C.secondary },
  { tag: [tags.string, tags.special(tags.string)], color: C.success },
  { tag: [tags.number, tags.bool, tags.null], color: C.warning },
  { tag: [tags.lineComment, tags.blockComment], color: C.muted, fontStyle: 'italic' },
  { tag: [tags.operator], color: color('operator', '#89dceb') },
  { tag: [tags.special(tags.name)], color: C.warning },
  { tag: tags.invalid, color: C.error },
]);

// The engine's type names, its aliases among them.
const ENGINE_TYPES =
  'bigint bit blob bool boolean bytea char date datetime decimal double enum float float4 float8 hugeint int int1 int2 ' +
  'int4 int8 integer interval json list long map numeric real short signed smallint string struct text time ' +
  'timestamp timestamptz tinyint ubigint uhugeint uinteger union usmallint utinyint uuid varbinary varchar';

// The engine's dialect: PostgreSQL's lexical rules (casts with ::, $$-quoted strings, its
// operators) with the engine's own words once they are known.
export function engineDialect(keywords, functions) {
  if (!keywords || !keywords.length) return PostgreSQL;
  return SQLDialect.define({
    charSetCasts: true,
    doubleDollarQuotedStrings: true,
    operatorChars: '+-*/<>=~!@#%^&|`?',
    specialVar: '',
    types: ENGINE_TYPES,
    keywords: keywords.map((k) => k.toLowerCase()).join(' '),
    builtin: (functions || []).map((f) => f.toLowerCase()).join(' '),
  });
}

class PathVariableWidget extends WidgetType {
  eq() {
    return true;
  }

  toDOM() {
    const span = document.createElement('span');
    span.className = 'cm-path-variable';
    span.textContent = PATH_VARIABLE;
    span.title = 'the files {path-to-files} stands for';
    return span;
  }

  ignoreEvent() {
    return false;
  }
}

const pathVariableMatcher = new MatchDecorator({
  regexp: /\{path-to-files\}/g,
  decoration: () => Decoration.replace({ widget: new PathVariableWidget() }),
});

// Drawn as one token that the cursor steps over and Backspace removes whole.
const pathVariablePlugin = ViewPlugin.fromClass(
  class {
    constructor(view) {
      this.decorations = pathVariableMatcher.createDeco(view);
    }

    update(update) {
      this.decorations = pathVariableMatcher.updateDeco(update, this.decorations);
    }
  },
  {
    decorations: (p) => p.decorations,
    provide: (plugin) => EditorView.atomicRanges.of((view) => (view.plugin(plugin) ? view.plugin(plugin).decorations : Decoration.none)),
  },
);

function insertedChars(changes) {
  let inserted = 0;
  changes.iterChanges((fromA, toA, fromB, toB) => {
    inserted += toB - fromB;
  });
  return inserted;
}

const setError = StateEffect.define();

// The engine error's place: marked until the text changes.
const errorField = StateField.define({
  create: () => Decoration.none,
  update(marks, tr) {
    if (tr.docChanged) marks = Decoration.none;
    for (const e of tr.effects) {
      if (e.is(setError)) {
        marks = e.value
          ? Decoration.set([Decoration.mark({ class: 'cm-query-error', attributes: { title: e.value.message } }).range(e.value.from, e.value.to)])
          : Decoration.none;
      }
    }
    return marks;
  },
  provide: (f) => EditorView.decorations.from(f),
});

// The stretch to underline at `offset`: the word there, else one character; at a line's end,
// the character before it.
export function errorRange(text, offset) {
  const len = text.length;
  if (len === 0) return null;
  let from = Math.max(0, Math.min(offset, len - 1));
  if ((text[from] === '\n' || from >= len) && from > 0 && text[from - 1] !== '\n') from--;
  if (text[from] === '\n') return null;
  let to = from + 1;
  const word = /[\p{L}\p{N}_$]/u;
  if (word.test(text[from])) {
    while (to < len && word.test(text[to])) to++;
  }
  return { from, to };
}

// `host` receives the editor. Options: id (of the element that takes the typing), placeholder,
// label, text, onRun(), completion (a CodeMirror completion source).
export function createSqlEditor(host, options = {}) {
  const language = new Compartment();
  const runKeys = Prec.highest(
    keymap.of(['Ctrl-Enter', 'Meta-Enter'].map((key) => ({
      key,
      preventDefault: true,
      run: () => {
        if (options.onRun) options.onRun();
        return true;
      },
    }))),
  );
  // The engine's dialect, once read, waits for a moment when the text is parsed anew anyway
  // (or is short): a new dialect parses the whole text again.
  let pendingDialect = null;
  const applyDialect = () => {
    if (!pendingDialect) return [];
    const effect = language.reconfigure(pendingDialect.extension);
    pendingDialect = null;
    return [effect];
  };
  // Set once the text has been run: names that arrive later open no list until it changes again.
  let settled = false;
  const afterChange = EditorView.updateListener.of((update) => {
    if (!update.docChanged) return;
    settled = false;
    const state = update.state;
    if (insertedChars(update.changes) > LARGE_CHANGE_CHARS && !syntaxTreeAvailable(state)) {
      ensureSyntaxTree(state, state.doc.length, LARGE_CHANGE_PARSE_MS);
    }
    if (pendingDialect && state.doc.length <= LARGE_CHANGE_CHARS) {
      setTimeout(() => pendingDialect && update.view.dispatch({ effects: applyDialect() }), 0);
    }
  });
  const tabKeys = keymap.of([{ key: 'Tab', run: (view) => completionStatus(view.state) === 'active' && acceptCompletion(view) }]);
  const extensions = [
    runKeys,
    lineNumbers(),
    highlightActiveLineGutter(),
    highlightSpecialChars(),
    history(),
    // No drawn caret and selection layers (drawSelection): the platform's own serve, since
    // drawing them measures the text again after every keystroke, the largest cost of typing.
    indentOnInput(),
    bracketMatching(),
    closeBrackets(),
    highlightActiveLine(),
    highlightSelectionMatches(),
    language.of(PostgreSQL.extension),
    syntaxHighlighting(highlightStyle),
    editorTheme,
    pathVariablePlugin,
    errorField,
    afterChange,
    autocompletion({
      override: options.completion ? [options.completion] : [],
      activateOnTypingDelay: 0,
      maxRenderedOptions: 60,
      icons: false,
    }),
    tabKeys,
    keymap.of([...closeBracketsKeymap, ...defaultKeymap, ...searchKeymap, ...historyKeymap, ...completionKeymap, indentWithTab]),
    EditorView.contentAttributes.of({
      id: options.id || '',
      'aria-label': options.label || 'SQL',
      autocorrect: 'off',
      autocapitalize: 'off',
      autocomplete: 'off',
      spellcheck: 'false',
    }),
  ];
  if (options.placeholder) extensions.push(placeholderText(options.placeholder));
  const view = new EditorView({
    parent: host,
    state: EditorState.create({ doc: options.text || '', extensions }),
  });
  const input = view.contentDOM;

  // Replaces the whole text as one step of its own in the history, the cursor at the end.
  function setText(text) {
    const value = text == null ? '' : String(text);
    view.dispatch({
      changes: { from: 0, to: view.state.doc.length, insert: value },
      selection: EditorSelection.cursor(value.length),
      annotations: isolateHistory.of('full'),
      userEvent: 'input.replace',
      effects: applyDialect(),
    });
    input.dispatchEvent(new Event('input', { bubbles: true }));
  }

  Object.defineProperty(input, 'value', {
    configurable: true,
    get: () => view.state.doc.toString(),
    set: setText,
  });

  return {
    view,
    input,
    getText: () => view.state.doc.toString(),
    setText,
    focus: () => view.focus(),
    // The text a run takes: the selection when there is one, else everything; `from` is where
    // it starts in the whole text.
    runText() {
      const sel = view.state.selection.main;
      if (!sel.empty) return { text: view.state.sliceDoc(sel.from, sel.to), from: sel.from };
      return { text: view.state.doc.toString(), from: 0 };
    },
    // Underlines the error at `offset` of the whole text and scrolls to it; null clears it.
    markError(offset, message) {
      if (offset === null || offset === undefined || offset < 0) {
        view.dispatch({ effects: setError.of(null) });
        return;
      }
      const doc = view.state.doc;
      const line = doc.lineAt(Math.min(offset, doc.length));
      const around = doc.sliceString(line.from, Math.min(doc.length, line.to + 1));
      const range = errorRange(around, Math.min(offset, doc.length) - line.from);
      const effects = [EditorView.scrollIntoView(Math.min(offset, doc.length), { y: 'center' })];
      if (range) effects.push(setError.of({ from: line.from + range.from, to: line.from + range.to, message: message || '' }));
      view.dispatch({ effects });
    },
    errorMarks: () => view.state.field(errorField),
    setDialect(keywords, functions) {
      pendingDialect = engineDialect(keywords, functions);
      if (view.state.doc.length <= LARGE_CHANGE_CHARS) view.dispatch({ effects: applyDialect() });
    },
    // The text was taken to run: its list closes, and no list opens unasked until it changes.
    settle() {
      settled = true;
      closeCompletion(view);
    },
    // Asks for completion again, for options that arrived after the list was drawn or found
    // empty: while the list is open, or while a name is being typed.
    refreshCompletion() {
      if (settled || !view.hasFocus || !view.state.selection.main.empty) return;
      const pos = view.state.selection.main.head;
      const typing = /[\p{L}\p{N}_$."'{]/u.test(view.state.sliceDoc(pos - 1, pos));
      if (completionStatus(view.state) !== null || typing) startCompletion(view);
    },
  };
}

// The statement around `pos` for completion, as { text, offset } where `offset` is the start of
// `text` in the document: the parser's statement node when it has got that far, else the text
// after the last semicolon before the cursor, and never more than COMPLETION_CONTEXT_CHARS.
export function statementAround(state, pos) {
  let from = Math.max(0, pos - COMPLETION_CONTEXT_CHARS);
  let to = Math.min(state.doc.length, pos + 200);
  const tree = ensureSyntaxTree(state, pos, PARSE_BUDGET_MS) || syntaxTree(state);
  let node = tree.length >= pos ? tree.resolveInner(pos, -1) : null;
  while (node && node.name !== 'Statement') node = node.parent;
  if (node && !(node.to <= pos && state.doc.sliceString(node.to - 1, node.to) === ';')) {
    from = Math.max(from, node.from);
    to = Math.min(to, node.to);
  } else if (node) {
    from = pos;
  } else {
    const before = state.doc.sliceString(from, pos);
    const semi = before.lastIndexOf(';');
    if (semi >= 0) from += semi + 1;
  }
  return { text: state.doc.sliceString(from, Math.max(from, to)), offset: from };
}
