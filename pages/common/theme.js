// The palette for colours that script hands to something other than CSS (the chart library draws
// on a canvas). Styles and markup use the same colours as the shell's CSS variables (theme.css).
export const THEME = Object.freeze({
  base: '#1e1e2e',
  surface: '#313244',
  border: '#45475a',
  text: '#cdd6f4',
  muted: '#6c7086',
  accent: '#cba6f7',
  secondary: '#89b4fa',
  error: '#f38ba8',
  success: '#a6e3a1',
  warning: '#fab387',
});
