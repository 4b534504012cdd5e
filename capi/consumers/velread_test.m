% velread_test(path): velread on the file of the example host
% (examples/write_inspection): its scan against what the example wrote, its
% tree, and the error of a missing group. Ends Octave with 1 on a mismatch.
function velread_test(path)
  try
    [samples, axes, hasData] = velread(path, '0/Scan A');
    assert(isa(samples, 'int16') && isequal(size(samples), [256 120 160]));
    assert(islogical(hasData) && isequal(size(hasData), [120 160]));
    points = 0:(120 * 160 - 1);
    marked = mod(points, 97) ~= 0;  % every 97th point has no data
    assert(isequal(hasData(:)', marked));
    expected = mod(points * 7 + (0:255)' * 13, 4096) - 2048;
    expected(:, ~marked) = 0;
    assert(isequal(double(reshape(samples, 256, [])), expected));
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
