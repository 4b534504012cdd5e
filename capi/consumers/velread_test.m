% velread_test(path, expectedPath): velread on the file of the example host
% (examples/write_inspection): its scan against what the example wrote (the
% file capi_expected_scan makes), its tree, and the error of a missing
% group. Ends Octave with 1 on a mismatch.
function velread_test(path, expectedPath)
  try
    [samples, axes, hasData] = velread(path, '0/Scan A');
    assert(isa(samples, 'int16') && isequal(size(samples), [256 120 160]));
    assert(islogical(hasData) && isequal(size(hasData), [120 160]));
    % What the example wrote: every point's samples (zeros without data),
    % then a byte per point, 1 for data.
    fid = fopen(expectedPath, 'r');
    expected = fread(fid, 256 * 120 * 160, 'int16=>int16');
    marked = fread(fid, Inf, 'uint8=>logical');
    fclose(fid);
    assert(isequal(samples(:), expected));
    assert(isequal(hasData(:), marked));
    assert(numel(axes.second) == 160 && abs(axes.first(3) - 1) < 1e-6 && numel(axes.sample) == 256);

    tree = velread(path);
    paths = {tree.path};
    gate = tree(strcmp(paths, '0/Channel 1/Gate A'));
    assert(numel(gate) == 1 && any(gate.ids == 10000) && strcmp(gate.name, 'Gate A'));
    assert(numel(gate.ids) == numel(gate.types) && numel(gate.ids) == numel(gate.counts));

    try
      velread(path, '0/No such group');
      error('velread_test:noError', 'a missing group gave no error');
    catch e
      assert(strcmp(e.identifier, 'velfile:NotFound'), e.identifier);
      assert(~isempty(strfind(e.message, 'No such group')), e.message);
    end
    fprintf('velread: %d x %d points of %d int16 samples, %d groups; %s\n', size(samples, 3), ...
           size(samples, 2), size(samples, 1), numel(tree), e.message);
  catch failure
    fprintf(2, 'velread_test: %s\n', failure.message);
    exit(1);
  end
end
