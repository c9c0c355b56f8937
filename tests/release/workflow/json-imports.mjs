// Registered with node --import: Node 20 imports a JSON module only with the
// import attribute type "json", which @actions/workflow-parser's own imports lack.
import { register } from "node:module";
register("data:text/javascript," + encodeURIComponent("export const load = (url, context, next) => next(url, url.endsWith('.json') ? { ...context, importAttributes: { type: 'json' } } : context);"));
